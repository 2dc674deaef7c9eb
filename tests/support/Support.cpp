#include "Support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QThread>

#include <gtest/gtest.h>
#include <unistd.h>

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
