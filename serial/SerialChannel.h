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

#include "ManualEvent.h"
#include "SerialPort.h"
#include "WindowMessenger.h"

namespace vantorq {

inline constexpr unsigned WM_USER = 0x400;
inline constexpr unsigned WM_SERIAL_BYTE = WM_USER + 7;
inline constexpr unsigned WM_SERIAL_BREAK = WM_USER + 1;
inline constexpr unsigned WM_SERIAL_CTS = WM_USER + 2;
inline constexpr unsigned WM_SERIAL_ERROR = WM_USER + 4;
inline constexpr unsigned WM_SERIAL_RING = WM_USER + 5;
inline constexpr unsigned WM_SERIAL_RXFLAG = WM_USER + 8;

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;

inline constexpr int kMonitorExitCode = 100;

class CSerialChannel {
 public:
  explicit CSerialChannel(std::shared_ptr<IPortOpener> opener = PosixPortOpener());
  virtual ~CSerialChannel();
  CSerialChannel(const CSerialChannel&) = delete;
  CSerialChannel& operator=(const CSerialChannel&) = delete;

  // 1 when the port was opened (also when a later configuration step
  // failed and raised m_bError), 0 when it cannot be opened. Does not
  // start the monitor.
  int Open(CSerialOwner* owner, unsigned port, int baud, char parity, int dataBits, int stopBits,
           std::uint32_t eventMask, std::uint32_t bufferSize);
  int StartMonitor();
  // Hands the bytes to the monitor and returns at once. A request longer
  // than the write buffer, or made with no buffer, is refused (false).
  bool QueueWrite(std::span<const std::uint8_t> bytes);
  void Close();

  bool HasPort() const;

  // Why the last Open returned 0 (an errno value) and what it tried.
  int LastOpenError() const { return m_nLastOpenError; }
  const std::string& LastOpenPath() const { return m_strLastOpenPath; }
  // The failure point last reported, for diagnostics; null if none.
  const char* LastFailure() const { return m_pLastFailure.load(); }
  int MonitorExitCode() const { return m_nExitCode.load(); }
  // The monitor has purged the port and is waiting for events.
  bool MonitorRunning() const { return m_bRunning != 0; }
  bool HasWriteBuffer() const;

  // Set by every failed port operation and never cleared here: the owner
  // clears it before an open and reads it to learn that the port failed.
  std::atomic<int> m_bError{0};

 private:
  void MonitorLoop();
  void DrainInput();
  void WritePending();
  void ReportFailure(const char* label);
  void Notify(unsigned message, std::uintptr_t wParam);
  // Signals the shutdown until the monitor has ended, then joins it. While
  // waiting, `dispatch` keeps handling the notifications the monitor may be
  // blocked on.
  void StopMonitor(bool dispatch);

  std::uint32_t m_nWriteLength = 0;
  std::unique_ptr<ISerialPort> m_hPort;
  std::thread m_pThread;
  mutable std::mutex m_lock;
  std::atomic<int> m_bRunning{0};
  std::atomic<bool> m_bFinished{true};
  CManualEvent m_hWriteRequest;
  CManualEvent m_hStopRequest;
  CommTimeouts m_timeouts{};
  LineState m_lineState{};
  CSerialOwner* m_pNotifyWnd = nullptr;
  unsigned m_nPortNumber = 0;
  std::unique_ptr<std::uint8_t[]> m_pWriteBuffer;
  std::uint32_t m_dwEventMask = 0;
  std::uint32_t m_nBufferSize = 0;

  std::shared_ptr<IPortOpener> m_opener;
  std::unique_ptr<CWindowMessenger> m_messenger;
  int m_nLastOpenError = 0;
  std::string m_strLastOpenPath;
  std::atomic<const char*> m_pLastFailure{nullptr};
  std::atomic<int> m_nExitCode{0};
};

}  // namespace vantorq
