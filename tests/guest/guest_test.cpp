// vantorq-ctl on real kernel serial drivers: a small Linux guest under QEMU
// (software emulation, no KVM) with a 16550 UART and an FTDI USB-serial
// adapter on xHCI, each wired to a simulated unit's pseudo-terminal here.
// The guest runs tests/guest/steps.sh and tells its results on its console;
// this side mutes the unit, pulls the adapter and plugs it back when the
// steps say so.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "Commands.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The guest's console, a line at a time.
class CConsole {
 public:
  explicit CConsole(int fd) : m_fd(fd) {}
  // The next line the steps said ("@@ ..."), without its mark; nullopt
  // when none came by `deadline` or the guest ended.
  std::optional<std::string> Next(Clock::time_point deadline) {
    for (;;) {
      const auto end = m_text.find('\n');
      if (end != std::string::npos) {
        std::string line = m_text.substr(0, end);
        m_text.erase(0, end + 1);
        m_all += line + "\n";
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("@@ ", 0) == 0) return line.substr(3);
        continue;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{m_fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
      char buf[4096];
      const auto n = ::read(m_fd, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      m_text.append(buf, static_cast<std::size_t>(n));
    }
  }
  // Everything the console showed, for a failure's message.
  const std::string& All() const { return m_all; }

 private:
  int m_fd;
  std::string m_text;
  std::string m_all;
};

// Says `command` on QEMU's monitor.
bool Monitor(const std::string& socketPath, const std::string& command) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  bool done = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const std::string line = command + "\n";
  done = done && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  // Its answer (and the prompt after it) before the connection goes.
  char buf[1024];
  for (pollfd p{fd, POLLIN, 0}; done && ::poll(&p, 1, 300) == 1 && ::read(fd, buf, sizeof buf) > 0;) {
  }
  ::close(fd);
  return done;
}

TEST(Guest, VantorqCtlOnTheKernelsUartAndUsbSerialDrivers) {
  const test::Ran prepared = test::RunShell(std::string(VANTORQ_SOURCE_DIR) + "/scripts/guest");
  ASSERT_EQ(prepared.status, 0) << prepared.err;
  const std::string image = prepared.out.substr(0, prepared.out.find('\n'));

  sim::CSimulator uart({.com = 1, .fast = true});
  sim::CSimulator usb({.com = 2, .fast = true});
  std::string error;
  ASSERT_TRUE(uart.StartThread(error)) << error;
  ASSERT_TRUE(usb.StartThread(error)) << error;
  // The guest sees this folder at the same path: the host's files are its
  // (read-only) root. The command line cannot carry a blank.
  test::CWorkFolder run;
  ASSERT_EQ(run.Path().find(' '), std::string::npos);
  std::string mine(256, '\0');
  for (std::size_t i = 0; i < mine.size(); ++i) mine[i] = static_cast<char>(i * 7);
  mine.replace(0, 8, std::string("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8));
  ASSERT_TRUE(test::WriteFile("mine.bin", mine));
  const std::string monitor = run.Path() + "/monitor";

  int console[2];
  ASSERT_EQ(::pipe2(console, O_CLOEXEC), 0);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const std::string steps = std::string(VANTORQ_SOURCE_DIR) + "/tests/guest/steps.sh";
  test::CChild qemu(
      {"/usr/bin/qemu-system-x86_64", "-m", "384", "-smp", "1", "-nodefaults", "-display", "none", "-no-reboot",
       "-kernel", image + "/vmlinux", "-initrd", image + "/initrd.gz", "-append",
       "console=ttyS0 quiet vantorq.steps=" + steps + " vantorq.ctl=" + VANTORQ_CTL + " vantorq.run=" + run.Path(),
       "-serial", "stdio", "-monitor", "unix:" + monitor + ",server=on,wait=off",
       "-virtfs", "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap",
       "-chardev", "serial,id=uart,path=" + uart.PortDir() + "/COM1", "-device", "isa-serial,chardev=uart",
       "-device", "qemu-xhci,id=xhci", "-chardev", "serial,id=ftdi,path=" + usb.PortDir() + "/COM2",
       "-device", "usb-serial,bus=xhci.0,chardev=ftdi,id=adapter"},
      {null, console[1], console[1]});
  ::close(console[1]);
  ::close(null);
  ASSERT_TRUE(qemu.Started()) << "qemu-system-x86 is needed (scripts/deps installs it)";
  CConsole guest(console[0]);
  const auto deadline = Clock::now() + 120s;

  std::map<std::string, std::string> said;  // "ttyS1 status" -> "0 preset 7 ..."
  for (auto line = guest.Next(deadline); line && line->rfind("end", 0) != 0; line = guest.Next(deadline)) {
    std::istringstream words(*line);
    std::string first, second;
    words >> first >> second;
    if (first == "booted") continue;
    if (first == "ready-to-pull") {
      // The unit goes quiet, so that the read is still waiting when the
      // adapter goes.
      usb.Mute(true);
      const std::size_t before = usb.Received(2).size();
      ASSERT_TRUE(test::WriteFile("pull", ""));
      const auto read = protocol::OutputEdidReadCommand();
      const bool reached = test::WaitUntil([&] {
        const auto got = usb.Received(2);
        return std::search(got.begin() + static_cast<long>(before), got.end(), read.begin(), read.end()) != got.end();
      }, 30s);
      ASSERT_TRUE(reached) << guest.All();
      // Pulled once the request has left and the read is waiting for the
      // answer (the steps give it 20 s).
      std::this_thread::sleep_for(1s);
      ASSERT_TRUE(Monitor(monitor, "device_del adapter"));
      continue;
    }
    if (first == "pulled") {
      said["pulled"] = line->substr(first.size() + 1);
      usb.Mute(false);
      ASSERT_TRUE(Monitor(monitor, "device_add usb-serial,bus=xhci.0,chardev=ftdi,id=adapter"));
      continue;
    }
    // "ttyS1 status 0 ...": by port and step; "replugged 0 same": by step.
    const bool perPort = first.rfind("tty", 0) == 0;
    const std::string key = perPort ? first + " " + second : first;
    said[key] = line->substr(std::min(line->size(), key.size() + 1));
  }
  const auto ended = qemu.Wait(10s);
  ::close(console[0]);
  ASSERT_TRUE(ended.has_value()) << "the guest did not power off\n" << guest.All();
  ASSERT_EQ(said.count("error"), 0u) << said["error"] << "\n" << guest.All();

  for (const std::string port : {"ttyS1", "ttyUSB0"}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(said[port + " status"].rfind("0 preset 7 4K60Hz_3D_8CH/scaler 0 BYPASS/enhancement 0 Off/", 0), 0u)
        << said[port + " status"];
    EXPECT_EQ(said[port + " read-edid"].rfind("0 256", 0), 0u) << said[port + " read-edid"];
    EXPECT_EQ(said[port + " write-user-edid"].rfind("0 1", 0), 0u) << said[port + " write-user-edid"];
    EXPECT_EQ(said[port + " read-back"], "0 same");
    EXPECT_EQ(said[port + " termios"], "kept");
  }
  // Pulled during the read: said, nothing written, the lock released.
  EXPECT_EQ(said["pulled"].rfind("1 nothing 0 vantorq-ctl: /dev/ttyUSB0: read-edid: the line failed: ", 0), 0u)
      << said["pulled"];
  EXPECT_NE(said["pulled"].find("is the adapter still plugged in? Nothing was written."), std::string::npos) << said["pulled"];
  EXPECT_EQ(said["replugged"].rfind("0 same", 0), 0u) << said["replugged"] << "\n" << guest.All();
}

}  // namespace
}  // namespace vantorq
