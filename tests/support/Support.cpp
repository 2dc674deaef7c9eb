#include "Support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <sstream>

#include <QThread>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantorq::test {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

void Pump(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
}

namespace {
int CountEntries(const char* path) {
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return -1;
  int n = 0;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  ::closedir(dir);
  return n;
}
}  // namespace

int OpenDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }  // less the one reading it
int ThreadCount() { return CountEntries("/proc/self/task"); }

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::chrono::microseconds CpuTime() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto us = [](const timeval& t) { return t.tv_sec * 1000000LL + t.tv_usec; };
  return std::chrono::microseconds(us(usage.ru_utime) + us(usage.ru_stime));
}

CScopedEnv::CScopedEnv(const char* name, const std::string& value) : m_name(name) {
  const char* old = ::getenv(name);
  m_had = old != nullptr;
  if (m_had) m_old = old;
  ::setenv(name, value.c_str(), 1);
}

CScopedEnv::~CScopedEnv() {
  if (m_had) {
    ::setenv(m_name.c_str(), m_old.c_str(), 1);
  } else {
    ::unsetenv(m_name.c_str());
  }
}

CWorkFolder::CWorkFolder() {
  static int count = 0;
  m_old = std::filesystem::current_path().string();
  m_dir = (std::filesystem::temp_directory_path() /
           ("vantorq-work-" + std::to_string(::getpid()) + "-" + std::to_string(count++)))
              .string();
  std::filesystem::create_directories(m_dir);
  std::filesystem::current_path(m_dir);
}

CWorkFolder::~CWorkFolder() {
  std::error_code ec;
  std::filesystem::current_path(m_old, ec);
  std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_dir, ec);
}

CPortLines::CPortLines() : m_env("VANTORQ_PORT_DIR", m_folder.Path()) {}

sim::CPseudoTerminal& CPortLines::Attach(unsigned com) {
  auto pty = sim::CPseudoTerminal::Create();
  if (!pty || !m_folder.Link(com, pty->FarPath())) {
    ADD_FAILURE() << "no pseudo-terminal for COM" << com;
    std::abort();
  }
  m_ptys.push_back(std::move(pty));
  return *m_ptys.back();
}

std::string EdidReply(std::span<const std::uint8_t> edid, std::size_t pairs, std::string_view head) {
  std::string line = std::string(head) + " DATA";
  for (std::size_t i = 0; i < pairs && i < edid.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02x", edid[i]);
    line += pair;
  }
  return line + "\r\n";
}

Ran RunShell(const std::string& command) {
  char dir[] = "/tmp/vantorq-run-XXXXXX";
  if (::mkdtemp(dir) == nullptr) return {-1, {}, {}};
  const std::string out = std::string(dir) + "/out";
  const std::string err = std::string(dir) + "/err";
  const int raw = std::system(("(" + command + ") >" + out + " 2>" + err).c_str());
  Ran ran{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {}, {}};
  ReadFile(out, ran.out);
  ReadFile(err, ran.err);
  std::filesystem::remove_all(dir);
  return ran;
}

CChild::CChild(const std::vector<std::string>& argv, std::array<int, 3> fds) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  for (int target = 0; target < 3; ++target) {
    const int fd = fds[static_cast<std::size_t>(target)];
    if (fd < 0) {
      ::posix_spawn_file_actions_addclose(&actions, target);
    } else if (fd != target) {
      ::posix_spawn_file_actions_adddup2(&actions, fd, target);
    }
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Signals this test process ignores or blocks would stay so in the child.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (::posix_spawn(&m_pid, args[0], &actions, &attributes, args.data(), environ) != 0) m_pid = -1;
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
}

CChild::~CChild() {
  if (m_pid > 0 && !m_status) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
}

void CChild::Signal(int sig) const {
  if (m_pid > 0) ::kill(m_pid, sig);
}

std::optional<int> CChild::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (m_pid > 0 && !m_status) {
    int raw = 0;
    const pid_t done = ::waitpid(m_pid, &raw, WNOHANG);
    if (done == m_pid) {
      m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() > end) break;
    ::usleep(2000);
  }
  return m_status;
}

IClock::TimePoint CDrivenClock::Now() const {
  std::lock_guard lock(m_mutex);
  return m_now;
}

bool CDrivenClock::WaitFor(const CManualEvent* event, std::chrono::microseconds span) {
  std::unique_lock lock(m_mutex);
  const TimePoint end = m_now + span;
  ++m_waits;
  m_moved.notify_all();
  for (;;) {
    // The event is a file descriptor, not this clock's: look at it often.
    if (event != nullptr && event->IsSet()) return true;
    if (m_now >= end || m_released) return false;
    m_moved.wait_for(lock, std::chrono::milliseconds(1));
  }
}

void CDrivenClock::Advance(std::chrono::microseconds span) {
  std::lock_guard lock(m_mutex);
  m_now += span;
  m_moved.notify_all();
}

int CDrivenClock::WaitsBegun() const {
  std::lock_guard lock(m_mutex);
  return m_waits;
}

void CDrivenClock::Release() {
  std::lock_guard lock(m_mutex);
  m_released = true;
  m_moved.notify_all();
}

sim::SimOptions CSimulatedDevice::Fast(sim::SimOptions options) {
  options.fast = true;
  return options;
}

CSimulatedDevice::CSimulatedDevice(sim::SimOptions options)
    : m_sim(Fast(std::move(options))),
      m_started(m_sim.StartThread(m_error)),
      m_env("VANTORQ_PORT_DIR", m_started ? m_sim.PortDir() : std::string("/nonexistent")) {}

}  // namespace vantorq::test

namespace vantorq::test {

std::vector<int> FreeTcpPorts(std::size_t count) {
  // All bound at once, so that the kernel cannot hand out one twice.
  std::vector<int> fds;
  std::vector<int> ports;
  for (std::size_t i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    fds.push_back(fd);
    ports.push_back(ntohs(address.sin_port));
  }
  for (const int fd : fds) ::close(fd);
  return ports;
}

CPortsFile::CPortsFile(const std::string& folder, const std::string& text)
    : m_env("XDG_CONFIG_HOME", folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder + "/vantorq", ec);
  m_written = WriteFile(folder + "/vantorq/ports", text);
}

int ListenOnLoopback(int backlog, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int TcpSockets(int port, bool remote, std::string_view state) {
  std::ifstream table("/proc/net/tcp");
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  int count = 0;
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, local, peer, now;
    fields >> slot >> local >> peer >> now;
    count += (remote ? peer : local) == wanted && now == state;
  }
  return count;
}

std::string Ser2netConnection(const std::string& name, const std::string& accepter, int port,
                              const std::string& device) {
  return "connection: &" + name + "\n  accepter: " + accepter + ",127.0.0.1," + std::to_string(port) +
         "\n  connector: serialdev," + device + ",57600n81,local\n";
}

CSer2net::CSer2net(const std::string& yaml, const std::vector<int>& ports) {
  const std::string program = "/usr/sbin/ser2net";
  if (::access(program.c_str(), X_OK) != 0) {
    m_error = "ser2net is needed (scripts/deps installs it)";
    return;
  }
  char dir[] = "/tmp/vantorq-ser2net-XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    m_error = "cannot make a folder for ser2net";
    return;
  }
  m_dir = dir;
  const std::string config = m_dir + "/ser2net.yaml";
  if (!WriteFile(config, yaml)) {
    m_error = "cannot write " + config;
    return;
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  // -n: in the foreground, ours to end; -u: no lock files of its own.
  m_child = std::make_unique<CChild>(
      std::vector<std::string>{program, "-n", "-u", "-c", config, "-P", m_dir + "/pid"},
      std::array<int, 3>{null, null, null});
  ::close(null);
  m_started = m_child->Started() && WaitUntil([&] {
                // Read from the kernel's table rather than by connecting.
                return std::all_of(ports.begin(), ports.end(), [](int p) { return TcpSockets(p, false, "0A") > 0; });
              }, std::chrono::milliseconds(5000));
  if (!m_started) m_error = "ser2net did not listen on its ports within 5 s";
}

void CSer2net::Kill() {
  if (!m_child || !m_child->Started()) return;
  m_child->Signal(SIGKILL);
  m_child->Wait(std::chrono::milliseconds(3000));
}

CSer2net::~CSer2net() {
  if (m_child && m_child->Started()) {
    m_child->Signal(SIGTERM);
    m_child->Wait(std::chrono::milliseconds(3000));
  }
  m_child.reset();
  if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
}

}  // namespace vantorq::test
