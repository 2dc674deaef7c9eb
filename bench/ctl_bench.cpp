// What vantorq-ctl costs beside the device it drives: the simulated device
// (paced at 57600 baud, as a real unit answers) is asked its state directly
// over its line, then through vantorq-ctl status; a whole setup is
// applied, beside the time its commands and the answers take on the wire;
// and a user EDID is written with and without the read-back that proves it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "Simulator.h"

extern char** environ;

namespace {

constexpr int kRounds = 25;
// Ten bits a byte at 57600 baud.
constexpr double kByteMs = 10.0 * 1000.0 / 57600.0;

double NowMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The device's own answer to the probe: written, then read until its three
// status lines are in.
double AnswerTime(const std::string& port) {
  const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  // What an earlier run left unread is no answer to this probe.
  ::usleep(20'000);
  ::tcflush(fd, TCIFLUSH);
  const double start = NowMs();
  [[maybe_unused]] const auto n = ::write(fd, "\r\nGET STA\r\n", 11);
  int lines = 0;
  char c = 0;
  while (lines < 3 && ::read(fd, &c, 1) == 1) lines += c == '\n';
  const double spent = NowMs() - start;
  ::close(fd);
  return spent;
}

double Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const double start = NowMs();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double spent = NowMs() - start;
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? spent : -1;
}

}  // namespace

// A TCP port on the loopback that nothing listens on now.
int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

int main() {
  vantorq::sim::SimOptions options;
  options.com = 5;  // paced at the line rate, as a unit answers
  vantorq::sim::CSimulator sim(options);
  std::string error;
  if (!sim.StartThread(error)) {
    std::fprintf(stderr, "no simulated device: %s\n", error.c_str());
    return 1;
  }
  const std::string port = sim.PortDir() + "/COM5";
  const std::string setup = sim.PortDir() + "/unit.txt";
  const std::string edid = sim.PortDir() + "/tv.bin";
  std::vector<double> answer, status, apply, verified;
  if (Run({VANTORQ_CTL, "--port", port, "save-setup", setup}) < 0 ||
      Run({VANTORQ_CTL, "--port", port, "read-edid", "output", "-o", edid}) < 0) {
    std::fprintf(stderr, "save-setup or read-edid failed\n");
    return 1;
  }
  for (int i = 0; i < kRounds; ++i) {
    answer.push_back(AnswerTime(port));
    status.push_back(Run({VANTORQ_CTL, "--port", port, "status"}));
    apply.push_back(Run({VANTORQ_CTL, "--port", port, "apply-setup", setup}));
    verified.push_back(Run({VANTORQ_CTL, "--port", port, "write-user-edid", edid}));
  }
  for (const auto* runs : {&status, &apply, &verified}) {
    if (*std::min_element(runs->begin(), runs->end()) < 0) {
      std::fprintf(stderr, "vantorq-ctl failed\n");
      return 1;
    }
  }
  const double device = Median(answer);
  std::printf("ctl_status_median %.1f ms (device answers in %.1f ms: +%.1f ms)\n", Median(status), device,
              Median(status) - device);
  // Enhancement, scaler, user EDID, its read-back, preset and the probe,
  // and the device's status line after each setting, the reply, and the
  // three status lines after the probe.
  const double wire = (24 + 19 + 790 + 24 + 19 + 11 + 18 + 14 + 785 + 13 + 45) * kByteMs;
  std::printf("ctl_apply_setup_median %.1f ms (%.2f x of %.1f ms on the wire)\n", Median(apply), Median(apply) / wire,
              wire);
  // The proof that the unit kept the user EDID: preset 15 read back. A
  // pseudo-terminal takes a write at once, so the write without it is
  // known by its time on the wire, not timed.
  const double write = 790 * kByteMs;
  const double proof = (24 + 785) * kByteMs;
  std::printf("ctl_write_user_edid_median %.1f ms (%.2f x of %.1f ms on the wire, %.1f ms of it the read-back)\n",
              Median(verified), Median(verified) / (write + proof), write + proof, proof);

  // A commissioning day: ten paced units, COM34 to COM43, and five ports
  // that open and stay silent (COM20 to COM24), beside COM5.
  std::vector<std::unique_ptr<vantorq::sim::CSimulator>> fleet;
  for (unsigned com = 34; com <= 43; ++com) {
    vantorq::sim::SimOptions unit;
    unit.portDir = sim.PortDir();
    unit.com = com;
    if (com == 34) unit.silent = {20, 21, 22, 23, 24};
    fleet.push_back(std::make_unique<vantorq::sim::CSimulator>(unit));
    if (!fleet.back()->StartThread(error)) {
      std::fprintf(stderr, "no simulated unit COM%u: %s\n", com, error.c_str());
      return 1;
    }
  }
  ::setenv("VANTORQ_PORT_DIR", sim.PortDir().c_str(), 1);
  std::vector<double> ten, all;
  for (int i = 0; i < 9; ++i) {
    ten.push_back(Run({VANTORQ_CTL, "--port", "COM34-COM43", "apply-setup", setup}));
    all.push_back(Run({VANTORQ_CTL, "find", "--all"}));
  }
  if (*std::min_element(ten.begin(), ten.end()) < 0 || *std::min_element(all.begin(), all.end()) < 0) {
    std::fprintf(stderr, "vantorq-ctl failed on the ten units\n");
    return 1;
  }
  std::printf("ctl_apply_setup_10_units %.1f ms (%.2f x of one unit's %.1f ms)\n", Median(ten), Median(ten) / Median(apply),
              Median(apply));
  std::printf("ctl_find_all_16_ports %.1f ms (COM1..COM99: 11 units, 5 silent ports)\n", Median(all));

  // The unit behind ser2net on the loopback, Telnet with COM-PORT control,
  // against the same unit on its local line, turn about.
  const int tcp = FreeTcpPort();
  const std::string config = sim.PortDir() + "/ser2net.yaml";
  if (FILE* f = std::fopen(config.c_str(), "w")) {
    std::fprintf(f, "connection: &unit\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n  connector: serialdev,%s,57600n81,local\n",
                 tcp, port.c_str());
    std::fclose(f);
  }
  const pid_t gateway = ::fork();
  if (gateway == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-u", "-c", config.c_str(), "-P", (config + ".pid").c_str(), nullptr);
    ::_exit(127);
  }
  const std::string address = "rfc2217://127.0.0.1:" + std::to_string(tcp);
  bool up = false;
  for (int i = 0; i < 50 && !up; ++i) {
    ::usleep(100000);
    up = Run({VANTORQ_CTL, "--port", address, "status"}) >= 0;
  }
  std::vector<double> local, remote;
  for (int i = 0; up && i < kRounds; ++i) {
    local.push_back(Run({VANTORQ_CTL, "--port", port, "status"}));
    remote.push_back(Run({VANTORQ_CTL, "--port", address, "status"}));
  }
  ::kill(gateway, SIGTERM);
  ::waitpid(gateway, nullptr, 0);
  if (!up || *std::min_element(remote.begin(), remote.end()) < 0) {
    std::fprintf(stderr, "vantorq-ctl status through ser2net failed (is ser2net installed?)\n");
    return 1;
  }
  std::printf("ctl_status_ser2net %.1f ms (the local line's %.1f ms: +%.1f ms)\n", Median(remote), Median(local),
              Median(remote) - Median(local));
  return 0;
}
