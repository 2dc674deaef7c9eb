#pragma once
// The serial port as the channel sees it: a narrow surface in which every
// operation says whether it failed, so that a test double can fail any one
// of them and the channel's reaction can be checked.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vantorq {

class CManualEvent;

struct CommTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

// The line settings the channel cares about.
struct LineState {
  int baud = 9600;
  char parity = 'N';  // N, E, O, M or S
  int dataBits = 8;
  int stopBits = 1;
  bool rtsEnabled = false;
  bool flowControl = false;
  char eventChar = 0;
};

// Applies a settings text "baud=%d parity=%c data=%d stop=%d" (keys in any
// order, each optional) to `state`. False, with `state` untouched, when the
// text has an unknown key, a malformed value or a value no line can take.
bool ApplySettingsText(std::string_view text, LineState& state);

// What the port reports about its input queue.
struct PortStatus {
  std::size_t waiting = 0;  // received bytes not yet read
  bool broken = false;      // hung up or failed: the next read will fail
};

enum class IoResult { Done, Pending, Failed };

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;

  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool SetMask(std::uint32_t mask) = 0;
  virtual std::uint32_t GetMask() const = 0;
  virtual bool GetState(LineState& state) = 0;
  virtual bool BuildState(std::string_view settings, LineState& state) {
    return ApplySettingsText(settings, state);
  }
  virtual bool SetState(const LineState& state) = 0;
  // Drops output not yet sent and input not yet read.
  virtual bool Purge() = 0;
  // Clears the error state and reports the input queue.
  virtual bool QueryStatus(PortStatus& status) = 0;

  // Starts the wait for an enabled kind of event (the port's readiness is
  // then the comm event); false when the port refuses to be waited on.
  virtual bool StartWait() { return true; }

  // Reads one byte without blocking; Pending when none is there yet.
  virtual IoResult ReadByte(std::uint8_t& byte) = 0;
  // Waits, up to the read time-outs, for the read that returned Pending.
  virtual bool FinishRead(std::uint8_t& byte) = 0;

  // Hands as many bytes as the output queue takes now to the driver:
  // Done with `written` > 0, Pending when the queue is full, Failed when
  // the port refused them. Done means queued, not sent.
  virtual IoResult Write(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
  // Waits up to `timeout` for room in the output queue, or less when
  // `stop` (if given) is or becomes set; true when there is room.
  virtual bool WaitWritable(std::chrono::milliseconds timeout, const CManualEvent* stop) = 0;
  // How many written bytes have not yet left on the wire; false when the
  // port cannot tell any more (it is gone).
  virtual bool OutputQueued(std::size_t& count) = 0;

  // The descriptor whose readiness is the port's comm event; -1 once the
  // port has failed for good, so that nobody waits on it any more.
  virtual int EventFd() const = 0;

  // Received bytes already taken from the descriptor and not yet read:
  // its readiness no longer shows them, so a wait must not begin on it.
  virtual std::size_t Held() const { return 0; }

  // The errno of the last call that failed; 0 when the line simply ended
  // (the other end hung up).
  virtual int LastErrno() const { return 0; }
};

// What every port over a descriptor keeps as it is told: the time-outs
// and the kinds of event to watch; and the wait for room to write.
class CDescriptorPort : public ISerialPort {
 public:
  bool SetTimeouts(const CommTimeouts& timeouts) override {
    m_timeouts = timeouts;
    return true;
  }
  bool SetMask(std::uint32_t mask) override {
    m_mask = mask;
    return true;
  }
  std::uint32_t GetMask() const override { return m_mask; }
  bool WaitWritable(std::chrono::milliseconds timeout, const CManualEvent* stop) override;

 protected:
  explicit CDescriptorPort(int fd) : m_fd(fd) {}
  int m_fd;
  CommTimeouts m_timeouts{};
  std::uint32_t m_mask = 0;
};

// What an open tried and, when it failed, why.
struct OpenAttempt {
  std::string path;    // the file opened for the port
  int error = 0;       // an errno value; 0 when the open succeeded
  std::string holder;  // who holds the port, when a lock file says so
  std::string reason;  // when set, what went wrong in words (a gateway's name lookup)
};

// Opens ports by device name. Failure gives no port and fills `attempt`.
class IPortOpener {
 public:
  virtual ~IPortOpener() = default;
  virtual std::unique_ptr<ISerialPort> Open(std::string_view deviceName, OpenAttempt& attempt) = 0;
};

// The real opener over termios; the channel uses it unless told otherwise.
std::shared_ptr<IPortOpener> PosixPortOpener();

// Opens the serial device at `path` as the real opener opens COMn's: lock
// file, flock, TIOCEXCL, and the line's settings kept to be put back.
std::unique_ptr<ISerialPort> OpenPosixPort(const std::string& path, OpenAttempt& attempt);

// Opens what a COM port leads to: a gateway's socket:// or rfc2217://
// address, or else a serial device's path.
std::unique_ptr<ISerialPort> OpenLine(const std::string& path, OpenAttempt& attempt);

}  // namespace vantorq
