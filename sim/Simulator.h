#pragma once
// The simulated device on pseudo-terminals: the answering port, silent
// ports, pacing at the line rate and the fault switches the tests use.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Device.h"
#include "PseudoTerminal.h"

namespace vantorq::sim {

struct SimOptions {
  std::string portDir;            // empty: a fresh temporary folder
  unsigned com = 5;               // where the device answers
  std::vector<unsigned> silent;   // ports that open but never answer
  bool fast = false;              // no pacing at 57600 baud
  bool log = false;               // every command and line on standard output
  bool noise = false;             // junk between the lines sent
  int splitMs = 0;                // each line sent in two halves, this far apart
  long hangUpAfter = -1;          // drop the line once after this many bytes sent
  UserEdidFault userEdidFault = UserEdidFault::None;
};

class CSimulator {
 public:
  explicit CSimulator(SimOptions options);
  ~CSimulator();
  CSimulator(const CSimulator&) = delete;
  CSimulator& operator=(const CSimulator&) = delete;

  // Creates the terminals and their links; false with a reason if not.
  bool Start(std::string& error);
  // Serves until `stop` is raised.
  void Run(const std::atomic<bool>& stop);
  // Serves on a thread of its own until Stop() or destruction.
  bool StartThread(std::string& error);
  void Stop();

  const std::string& PortDir() const;
  // The lines of the log so far (kept whether or not they are printed).
  std::vector<std::string> Log() const;
  // Every command the device received so far.
  std::vector<std::string> Commands() const;
  // Raw bytes each port received from the console, answering or silent.
  std::vector<std::uint8_t> Received(unsigned com) const;
  // Runs `f` on the device under the simulator's lock.
  void WithDevice(const std::function<void(CDevice&)>& f);
  // Replaces the answering port's terminal, as an unplug and replug does.
  bool Replug();
  // While muted the device takes commands in and answers none, as a unit
  // does whose line has gone dead on the far side.
  void Mute(bool muted) { m_muted = muted; }
  // Lines the device has begun to send, read without waiting for one being
  // sent (a split line holds the simulator's lock while it pauses).
  std::size_t LinesBegun() const { return m_linesBegun; }

 private:
  struct Port {
    unsigned com;
    bool answers;
    std::unique_ptr<CPseudoTerminal> pty;
    std::vector<std::uint8_t> received;
  };

  void AddLog(const std::string& line);
  void Serve(Port& port);
  void SendLine(Port& port, const std::string& line);
  void SendBytes(Port& port, std::string_view bytes);
  bool Attach(Port& port, std::string& error);

  SimOptions m_options;
  std::unique_ptr<CPortFolder> m_folder;
  std::vector<Port> m_ports;
  mutable std::mutex m_mutex;
  CDevice m_device;
  std::vector<std::string> m_log;
  long m_sent = 0;
  bool m_hungUp = false;
  std::chrono::steady_clock::time_point m_replugAt{};
  std::chrono::nanoseconds m_rxFreeAt{0};  // CLOCK_MONOTONIC: when the line has brought the last bytes read
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_muted{false};
  std::atomic<std::size_t> m_linesBegun{0};
  std::thread m_thread;
};

}  // namespace vantorq::sim
