#pragma once
// A serial line as the hardware behaves, for what a pseudo-terminal cannot
// show: the output queue empties at the line rate (a purge throws away what
// has not left yet), reads and writes fail after N bytes as a pulled
// adapter does, and any configuration step or event wait can be refused.
// The test holds the line; the channel gets ports on it from CLineOpener.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Clock.h"
#include "ManualEvent.h"
#include "SerialPort.h"

namespace vantorq::sim {

// How reads fail once the allotted bytes have been read.
enum class ReadFault {
  Refused,           // the read is refused at once ("ReadFile()")
  LostWhilePending,  // the read is left pending and its wait fails
};

class CLineDouble {
 public:
  explicit CLineDouble(std::shared_ptr<IClock> clock = SystemClock());
  ~CLineDouble();
  CLineDouble(const CLineDouble&) = delete;
  CLineDouble& operator=(const CLineDouble&) = delete;

  // The far end: bytes arrive in the input queue.
  void Feed(std::string_view bytes);
  // Every byte that has left on the wire so far.
  std::vector<std::uint8_t> Wire();
  // Bytes written and not yet sent.
  std::size_t Queued();

  // Faults. A step is one of "timeouts", "mask", "getstate", "build",
  // "setstate", "purge" or "wait".
  void FailStep(std::string step);
  void FailReadAfter(std::size_t bytes, ReadFault fault);
  void FailWriteAfter(std::size_t bytes);
  void StallWire();
  // The far end holds the line (flow control) for `span` from now, then
  // lets it go; a purge does not end the hold.
  void HoldLine(std::chrono::microseconds span);
  void SetQueueCapacity(std::size_t bytes);
  // While held, the monitor parks before each wait until released.
  void HoldWaits();
  void ReleaseWaits();
  bool MonitorParked();

  // What was asked of the port, in order: the configuration steps,
  // "purge", "read" for each byte read and "write" for each write call.
  std::vector<std::string> Log();
  void ClearLog();
  std::string Settings();
  LineState State();
  std::uint32_t Mask();

  // A port on this line, as an open gives one.
  std::unique_ptr<ISerialPort> MakePort();

 private:
  class Port;
  friend class Port;
  using TimePoint = IClock::TimePoint;

  bool Step(const char* name);
  void Advance(TimePoint now);  // moves what has been sent to the wire
  std::chrono::nanoseconds ByteTime() const;
  void UpdateInputEvent();

  std::shared_ptr<IClock> m_clock;
  std::mutex m_mutex;
  std::condition_variable m_holdChanged;
  CManualEvent m_input;  // signalled while input waits

  std::deque<std::uint8_t> m_in;
  std::deque<std::pair<std::uint8_t, TimePoint>> m_out;  // byte, when it has left
  TimePoint m_lineFreeAt{};
  TimePoint m_heldUntil{};
  std::vector<std::uint8_t> m_wire;
  std::size_t m_capacity = 4096;
  bool m_stalled = false;

  std::string m_failStep;
  std::size_t m_readCount = 0;
  std::size_t m_readLimit = SIZE_MAX;
  ReadFault m_readFault = ReadFault::Refused;
  bool m_readLost = false;
  std::size_t m_writeCount = 0;
  std::size_t m_writeLimit = SIZE_MAX;
  bool m_dead = false;
  bool m_hold = false;
  bool m_parked = false;

  std::vector<std::string> m_log;
  std::string m_settings;
  LineState m_state{57600, 'N', 8, 1, false, false, 0};
  std::uint32_t m_mask = 0;
};

// Opens COMn on the lines it has been given; any other port does not exist.
class CLineOpener final : public IPortOpener {
 public:
  void Add(unsigned com, std::shared_ptr<CLineDouble> line);
  std::unique_ptr<ISerialPort> Open(std::string_view deviceName, OpenAttempt& attempt) override;
  std::vector<std::string> Names() const;

 private:
  std::map<unsigned, std::shared_ptr<CLineDouble>> m_lines;
  std::vector<std::string> m_names;
};

}  // namespace vantorq::sim
