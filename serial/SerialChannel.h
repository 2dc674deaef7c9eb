#pragma once
// The one RS-232 port of the console: opened with fixed line settings, read
// by a monitor thread that hands every byte to the owner window and waits
// until it has been handled, and written on request.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "Clock.h"
#include "ManualEvent.h"
#include "SerialPort.h"
#include "WindowMessenger.h"
#include "WriteOutcome.h"

namespace vantorq {

inline constexpr unsigned WM_USER = 0x400;
inline constexpr unsigned WM_SERIAL_BYTE = WM_USER + 7;
inline constexpr unsigned WM_SERIAL_BREAK = WM_USER + 1;
inline constexpr unsigned WM_SERIAL_CTS = WM_USER + 2;
inline constexpr unsigned WM_SERIAL_ERROR = WM_USER + 4;
inline constexpr unsigned WM_SERIAL_RING = WM_USER + 5;
inline constexpr unsigned WM_SERIAL_RXFLAG = WM_USER + 8;
// A write request has ended: wParam is WriteResultParam(ticket, outcome).
// Sent for every request the monitor took up, so that the owner never
// claims a command reached the device before the line has sent it.
inline constexpr unsigned WM_SERIAL_WRITTEN = WM_USER + 9;

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::size_t kEventKinds = 6;

inline constexpr int kMonitorExitCode = 100;

// At most this many received bytes go to the owner in one hand-over.
inline constexpr std::size_t kMaxBatchBytes = 1024;

class CSerialChannel {
 public:
  explicit CSerialChannel(std::shared_ptr<IPortOpener> opener = PosixPortOpener(),
                          std::shared_ptr<IClock> clock = SystemClock());
  virtual ~CSerialChannel();
  CSerialChannel(const CSerialChannel&) = delete;
  CSerialChannel& operator=(const CSerialChannel&) = delete;

  // 1 when the port was opened (also when a later configuration step
  // failed and raised m_bError), 0 when it cannot be opened, or when the
  // system would not give the events the monitor needs. Does not start
  // the monitor.
  int Open(CSerialOwner* owner, unsigned port, int baud, char parity, int dataBits, int stopBits,
           std::uint32_t eventMask, std::uint32_t bufferSize);
  // 1 when the monitor was started; 0 when it cannot run (no events, or
  // no thread to be had).
  int StartMonitor();
  // Hands the bytes to the monitor and returns at once with the request's
  // ticket (WM_SERIAL_WRITTEN tells its outcome). A request longer than
  // the write buffer, or made with no buffer, is refused (0). Never waits
  // for a write in progress: a request made during one is carried out
  // after it; one not yet begun is replaced (and its ticket never told).
  WriteTicket QueueWrite(std::span<const std::uint8_t> bytes);
  // Stops the monitor (delivering nothing more), frees the buffer and
  // closes the port. Always returns.
  void Close();

  bool HasPort() const;

  // What the last Open tried and, when it returned 0, why.
  const OpenAttempt& LastOpen() const { return m_lastOpen; }
  int LastOpenError() const { return m_lastOpen.error; }
  const std::string& LastOpenPath() const { return m_lastOpen.path; }
  // The port number given to the last Open.
  unsigned PortNumber() const { return m_nPortNumber; }
  // The failure point last reported, for diagnostics; null if none.
  const char* LastFailure() const { return m_pLastFailure.load(); }
  // The errno that failure came with (0: the line ended, hung up).
  int LastFailureErrno() const { return m_nFailureErrno.load(); }
  // The failure in the operator's words, as POSIX names the call: "read():
  // Input/output error". Empty when none was reported.
  std::string DescribeFailure() const;
  int MonitorExitCode() const { return m_nExitCode.load(); }
  // The monitor has purged the port and is waiting for events.
  bool MonitorRunning() const { return m_bRunning != 0; }
  bool HasWriteBuffer() const;
  // How many hand-overs to the owner's thread have been made.
  std::uint64_t HandOvers() const { return m_messenger->HandOvers(); }

  // Set by every failed port operation and never cleared here: the owner
  // clears it before an open and reads it to learn that the port failed.
  std::atomic<int> m_bError{0};

 private:
  void MonitorLoop();
  void DrainInput();
  // Hands the gathered notifications to the owner and waits until each
  // has been handled.
  void Deliver();
  void WritePending();
  void ReportFailure(const char* label, int error);
  // Signals the shutdown, lets go of a delivery the monitor may be blocked
  // on (delivering nothing more) and waits for the monitor to end.
  void StopMonitor();
  bool PrepareEvents();
  // Writes the request and waits until the line has sent it.
  WriteOutcome WriteAndDrain(std::span<const std::uint8_t> bytes);
  std::chrono::microseconds ByteTime() const;

  std::uint32_t m_nWriteLength = 0;
  std::unique_ptr<ISerialPort> m_hPort;
  std::atomic<bool> m_bHasPort{false};
  std::thread m_pThread;
  mutable std::mutex m_lock;
  std::atomic<int> m_bRunning{0};
  CManualEvent m_hWriteRequest;
  CManualEvent m_hStopRequest;
  CommTimeouts m_timeouts{};
  LineState m_lineState{};
  CSerialOwner* m_pNotifyWnd = nullptr;
  unsigned m_nPortNumber = 0;
  std::unique_ptr<std::uint8_t[]> m_pWriteBuffer;
  std::uint32_t m_dwEventMask = 0;
  std::uint32_t m_nBufferSize = 0;

  // The request is copied here when its write begins, so that the lock
  // held while it drains never keeps QueueWrite waiting. m_bufferLock
  // guards the write buffer and its length.
  std::unique_ptr<std::uint8_t[]> m_pInFlight;
  mutable std::mutex m_bufferLock;
  WriteTicket m_nTicket = 0;         // of the request in the write buffer
  WriteTicket m_nLastTicket = 0;     // the last one handed out

  // What the monitor gathers for its next hand-over: the bytes and the
  // notifications that follow them (monitor thread only).
  std::array<SerialNotification, kMaxBatchBytes + kEventKinds> m_batch{};
  std::size_t m_nBatch = 0;
  std::size_t m_nBytesRead = 0;

  std::shared_ptr<IPortOpener> m_opener;
  std::shared_ptr<IClock> m_clock;
  std::unique_ptr<CWindowMessenger> m_messenger;
  OpenAttempt m_lastOpen;
  std::atomic<const char*> m_pLastFailure{nullptr};
  std::atomic<int> m_nFailureErrno{0};
  std::atomic<int> m_nExitCode{0};
};

}  // namespace vantorq
