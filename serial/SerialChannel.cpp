#include "SerialChannel.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "ComPorts.h"

namespace vantorq {

namespace {

constexpr std::uint32_t kTimeoutMs = 1000;
constexpr char kEventChar = 'q';

// The notifications that follow a comm event, in the order they are sent.
struct EventAction {
  std::uint32_t kind;
  unsigned message;  // 0: drain the input instead
};
constexpr std::array<EventAction, 6> kEventActions{{
    {EV_RXCHAR, 0},
    {EV_CTS, WM_SERIAL_CTS},
    {EV_BREAK, WM_SERIAL_BREAK},
    {EV_ERR, WM_SERIAL_ERROR},
    {EV_RING, WM_SERIAL_RING},
    {EV_RXFLAG, WM_SERIAL_RXFLAG},
}};

}  // namespace

CSerialChannel::CSerialChannel(std::shared_ptr<IPortOpener> opener)
    : m_opener(std::move(opener)), m_messenger(std::make_unique<CWindowMessenger>()) {}

CSerialChannel::~CSerialChannel() {
  // The owner is being destroyed: nothing may be delivered to it any more,
  // and a monitor waiting on a delivery must be let go, or it would never
  // see the shutdown.
  m_messenger->Abandon();
  m_hStopRequest.Set();
  StopMonitor(false);
  std::lock_guard lock(m_lock);
  m_hPort.reset();
  m_pWriteBuffer.reset();
}

void CSerialChannel::ReportFailure(const char* label) {
  m_pLastFailure = label;
  m_bError = 1;
}

void CSerialChannel::StopMonitor(bool dispatch) {
  if (!m_pThread.joinable()) return;
  // Also stops a monitor that has been started but has not yet run far
  // enough to set m_bRunning: the shutdown event stays signalled for it.
  while (!m_bFinished) {
    if (dispatch) {
      m_messenger->DispatchPending();
      m_messenger->ReleaseSender();
    }
    m_hStopRequest.Set();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  m_pThread.join();
}

int CSerialChannel::Open(CSerialOwner* owner, unsigned port, int baud, char parity, int dataBits,
                         int stopBits, std::uint32_t eventMask, std::uint32_t bufferSize) {
  StopMonitor(true);

  for (CManualEvent* event : {&m_hWriteRequest, &m_hStopRequest}) {
    if (event->Exists()) {
      event->Reset();
    } else {
      event->Create();
    }
  }

  m_pNotifyWnd = owner;
  m_messenger->SetTarget(owner);
  m_pWriteBuffer = std::make_unique<std::uint8_t[]>(bufferSize);
  m_nWriteLength = 0;
  m_nPortNumber = port;
  m_nBufferSize = bufferSize;
  m_dwEventMask = eventMask;

  std::lock_guard lock(m_lock);
  m_hPort.reset();

  const std::string name = ComDeviceName(port);
  char settings[64];
  std::snprintf(settings, sizeof settings, "baud=%d parity=%c data=%d stop=%d", baud, parity,
                dataBits, stopBits);

  m_nLastOpenError = 0;
  m_hPort = m_opener->Open(name, m_nLastOpenError, m_strLastOpenPath);
  if (!m_hPort) return 0;

  m_timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
  [&] {
    if (!m_hPort->SetTimeouts(m_timeouts)) return ReportFailure("SetCommTimeouts()");
    if (!m_hPort->SetMask(eventMask)) return ReportFailure("SetCommMask()");
    if (!m_hPort->GetState(m_lineState)) return ReportFailure("GetCommState()");
    m_lineState.eventChar = kEventChar;
    m_lineState.rtsEnabled = true;
    if (!m_hPort->BuildState(settings, m_lineState)) return ReportFailure("BuildCommDCB()");
    if (!m_hPort->SetState(m_lineState)) return ReportFailure("SetCommState()");
  }();

  m_hPort->Purge();
  return 1;
}

int CSerialChannel::StartMonitor() {
  if (m_pThread.joinable()) StopMonitor(true);
  m_bFinished = false;
  try {
    m_pThread = std::thread([this] { MonitorLoop(); });
  } catch (const std::system_error&) {
    m_bFinished = true;
    return 0;
  }
  return 1;
}

bool CSerialChannel::QueueWrite(std::span<const std::uint8_t> bytes) {
  // Copied under the lock: a write in progress keeps its bytes, and a
  // request that has not started yet is replaced by this one.
  std::lock_guard lock(m_lock);
  if (!m_pWriteBuffer || bytes.size() > m_nBufferSize) return false;
  std::memcpy(m_pWriteBuffer.get(), bytes.data(), bytes.size());
  m_nWriteLength = static_cast<std::uint32_t>(bytes.size());
  m_hWriteRequest.Set();
  return true;
}

void CSerialChannel::Close() {
  StopMonitor(true);
  std::lock_guard lock(m_lock);
  m_pWriteBuffer.reset();
  m_nWriteLength = 0;
  m_hPort.reset();
}

bool CSerialChannel::HasPort() const {
  std::lock_guard lock(m_lock);
  return m_hPort != nullptr;
}

bool CSerialChannel::HasWriteBuffer() const {
  std::lock_guard lock(m_lock);
  return m_pWriteBuffer != nullptr;
}

void CSerialChannel::Notify(unsigned message, std::uintptr_t wParam) {
  m_messenger->Send(message, wParam, static_cast<std::intptr_t>(m_nPortNumber));
}

void CSerialChannel::MonitorLoop() {
  // Only this thread touches the port until it ends: Open and Close stop
  // it first. The pointer itself changes only under the lock.
  ISerialPort* port = m_hPort.get();
  if (port != nullptr) port->Purge();
  // Raised after the start-up purge, so that whoever sees it knows that
  // bytes arriving from now on will be delivered.
  m_bRunning = 1;

  // The comm event is the port's own readiness; only the kinds poll() can
  // see are worth waiting for, or a readable port would wake us forever.
  const bool watchPort = (m_dwEventMask & (EV_RXCHAR | EV_RXFLAG)) != 0;

  for (;;) {
    std::array<pollfd, 3> waitSet{{
        {m_hStopRequest.Fd(), POLLIN, 0},
        {port != nullptr && watchPort ? port->EventFd() : -1, POLLIN, 0},
        {m_hWriteRequest.Fd(), POLLIN, 0},
    }};
    if (::poll(waitSet.data(), waitSet.size(), -1) < 0) {
      if (errno == EINTR) continue;
      ReportFailure("WaitCommEvent()");
      // Without a working wait there is nothing to do but wait for the end.
      waitSet = {{{m_hStopRequest.Fd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}}};
      ::poll(waitSet.data(), 1, -1);
    }

    if (waitSet[0].revents != 0) {
      {
        std::lock_guard lock(m_lock);
        m_hPort.reset();
      }
      m_bRunning = 0;
      m_nExitCode = kMonitorExitCode;
      m_bFinished = true;
      return;
    }

    if (waitSet[1].revents != 0) {
      // The event fired with nothing queued: start the wait again.
      PortStatus status;
      if (port->QueryStatus(status) && status.waiting == 0 && !status.broken) continue;
      const std::uint32_t enabled = port->GetMask();
      for (const auto& action : kEventActions) {
        if ((enabled & action.kind) == 0) continue;
        if (action.message == 0) {
          DrainInput();
        } else {
          Notify(action.message, 0);
        }
      }
    } else if (waitSet[2].revents != 0) {
      WritePending();
    }
  }
}

void CSerialChannel::DrainInput() {
  ISerialPort* port = m_hPort.get();
  for (;;) {
    if (m_hStopRequest.IsSet()) return;
    PortStatus status;
    {
      std::lock_guard lock(m_lock);
      if (!port->QueryStatus(status)) status = {};
    }
    if (status.waiting == 0 && !status.broken) return;

    std::uint8_t byte = 0;
    {
      std::lock_guard lock(m_lock);
      switch (port->ReadByte(byte)) {
        case IoResult::Done:
          break;
        case IoResult::Pending:
          if (!port->FinishRead(byte)) ReportFailure("GetOverlappedResults() in ReadFile()");
          break;
        case IoResult::Failed:
          ReportFailure("ReadFile()");
          break;
      }
    }
    // Sent even after a failed read: the owner finds m_bError set, drops
    // the byte and closes the port.
    Notify(WM_SERIAL_BYTE, byte);
  }
}

void CSerialChannel::WritePending() {
  m_hWriteRequest.Reset();
  std::lock_guard lock(m_lock);
  if (!m_hPort || !m_pWriteBuffer) return;
  m_hPort->Purge();
  if (!m_hPort->Write({m_pWriteBuffer.get(), m_nWriteLength})) ReportFailure("WriteFile()");
}

}  // namespace vantorq
