#pragma once
// Helpers shared by the tests.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Clock.h"
#include "ManualEvent.h"
#include "PseudoTerminal.h"
#include "Simulator.h"

// QStrings in failure messages as text, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace vantorq::test {

// Handles events until `done` holds or `limit` has passed; says which.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Handles events for `span`.
void Pump(std::chrono::milliseconds span);

// Descriptors and threads this process has now.
int OpenDescriptorCount();
int ThreadCount();

// A whole file as text; false when it cannot be read or written.
bool ReadFile(const std::string& path, std::string& text);
bool WriteFile(const std::string& path, const std::string& text);

// The device's read reply carrying the first `pairs` bytes of `edid`,
// with its line end: "OUT1 EDID DATA 00 ff ...\r\n".
std::string EdidReply(std::span<const std::uint8_t> edid, std::size_t pairs = 256,
                      std::string_view head = "OUT1 EDID");

// A shell command's exit status (-1 if killed) and what it wrote.
struct Ran {
  int status;
  std::string out;
  std::string err;
};
Ran RunShell(const std::string& command);

// A program run in the background with the standard descriptors given
// (-1: closed in the child), so that a test can signal it while it waits.
class CChild {
 public:
  CChild(const std::vector<std::string>& argv, std::array<int, 3> fds);
  ~CChild();  // killed if still running
  CChild(const CChild&) = delete;
  CChild& operator=(const CChild&) = delete;
  pid_t Pid() const { return m_pid; }
  bool Started() const { return m_pid > 0; }
  void Signal(int sig) const;
  // The exit status, -1 when a signal ended it, nullopt while it still
  // runs after `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit);

 private:
  pid_t m_pid = -1;
  std::optional<int> m_status;
};

// CPU time this process has used, user and system.
std::chrono::microseconds CpuTime();

// Sets an environment variable for the lifetime of the object.
class CScopedEnv {
 public:
  CScopedEnv(const char* name, const std::string& value);
  ~CScopedEnv();

 private:
  std::string m_name;
  bool m_had;
  std::string m_old;
};

// A private working folder, made current for the lifetime of the object:
// the console saves its files in the current one.
class CWorkFolder {
 public:
  CWorkFolder();
  ~CWorkFolder();
  CWorkFolder(const CWorkFolder&) = delete;
  CWorkFolder& operator=(const CWorkFolder&) = delete;
  const std::string& Path() const { return m_dir; }

 private:
  std::string m_old;
  std::string m_dir;
};

// Serial lines on COMn: pseudo-terminals behind links in a private port
// folder that VANTORQ_PORT_DIR names for the lifetime of the object.
class CPortLines {
 public:
  CPortLines();
  sim::CPseudoTerminal& Attach(unsigned com);
  const sim::CPortFolder& Folder() const { return m_folder; }
  std::string LinkPath(unsigned com) const { return m_folder.LinkPath(com); }

 private:
  sim::CPortFolder m_folder;
  CScopedEnv m_env;
  std::vector<std::unique_ptr<sim::CPseudoTerminal>> m_ptys;
};

// Time that moves only when the test moves it: a wait ends when its event
// is set or the test has advanced the clock past its end. Release() lets
// every wait go, so that a fault shows as a failure and not as a hang.
class CDrivenClock final : public IClock {
 public:
  TimePoint Now() const override;
  bool WaitFor(const CManualEvent* event, std::chrono::microseconds span) override;
  void Advance(std::chrono::microseconds span);
  // How many waits have begun so far.
  int WaitsBegun() const;
  void Release();

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_moved;
  TimePoint m_now{};
  int m_waits = 0;
  bool m_released = false;
};

// The simulated device on its own thread, its port folder in
// VANTORQ_PORT_DIR, for the lifetime of the object. Fast unless asked.
class CSimulatedDevice {
 public:
  explicit CSimulatedDevice(sim::SimOptions options);
  sim::CSimulator& operator*() { return m_sim; }
  sim::CSimulator* operator->() { return &m_sim; }
  bool Started() const { return m_started; }
  const std::string& Error() const { return m_error; }

 private:
  static sim::SimOptions Fast(sim::SimOptions options);
  sim::CSimulator m_sim;
  std::string m_error;
  bool m_started;
  CScopedEnv m_env;
};

}  // namespace vantorq::test

namespace vantorq::test {

// TCP ports on the loopback that nothing listens on now, all different.
std::vector<int> FreeTcpPorts(std::size_t count);
inline int FreeTcpPort() { return FreeTcpPorts(1).front(); }

// A socket listening on 127.0.0.1 at a port the kernel chose (`port`),
// taking `backlog` connections before it leaves the next waiting; -1 if not.
int ListenOnLoopback(int backlog, int& port);

// The kernel's TCP sockets on the loopback whose local (or remote) port is
// `port` and whose state is `state` ("0A" listening, "02" SYN-SENT).
int TcpSockets(int port, bool remote, std::string_view state);

// ser2net, the gateway installers put in racks, on the loopback with
// `yaml` as its configuration; ended with the object. Started() once each
// of `ports` listens (a probe connection would open its serial side).
class CSer2net {
 public:
  CSer2net(const std::string& yaml, const std::vector<int>& ports);
  ~CSer2net();
  CSer2net(const CSer2net&) = delete;
  CSer2net& operator=(const CSer2net&) = delete;
  bool Started() const { return m_started; }
  const std::string& Error() const { return m_error; }
  // Ends it at once, as a gateway that loses its power: its connections
  // end where they stand.
  void Kill();

 private:
  std::string m_dir;
  std::unique_ptr<CChild> m_child;
  bool m_started = false;
  std::string m_error;
};

// The ports file `folder`/vantorq/ports holding `text`, the folder named
// by XDG_CONFIG_HOME for the lifetime of the object.
class CPortsFile {
 public:
  CPortsFile(const std::string& folder, const std::string& text);
  bool Written() const { return m_written; }

 private:
  CScopedEnv m_env;
  bool m_written;
};

// A ser2net connection from a loopback TCP port to a serial device:
// `accepter` "telnet(rfc2217),tcp" or "tcp".
std::string Ser2netConnection(const std::string& name, const std::string& accepter, int port,
                              const std::string& device);

}  // namespace vantorq::test
