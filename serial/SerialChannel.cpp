#include "SerialChannel.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "ComPorts.h"
#include "OpenFailure.h"
#include "Trace.h"

namespace vantorq {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::uint32_t kTimeoutMs = 1000;
constexpr char kEventChar = 'q';
// A write may take this many times its time on the wire before it counts
// as stalled (on top of the constant time-out).
constexpr int kWireTimeMargin = 2;
// Between two looks at the output queue while it drains.
constexpr microseconds kShortestDrainWait{200};
constexpr microseconds kLongestDrainWait{50'000};
// A trickle of input is gathered for up to this long before it is
// delivered, as a UART's receive FIFO or an adapter's latency timer does:
// one hand-over to the window for a line instead of two thread wake-ups
// for every byte. A status line (13 bytes, 2.3 ms at 57600 baud) arrives
// whole within it; a burst already this large goes at once.
constexpr microseconds kReceiveHold{4'000};
constexpr std::size_t kReceiveBatch = 64;

// The notifications that follow a comm event, in the order they are sent.
struct EventAction {
  std::uint32_t kind;
  unsigned message;  // 0: drain the input instead
};
constexpr std::array<EventAction, kEventKinds> kEventActions{{
    {EV_RXCHAR, 0},
    {EV_CTS, WM_SERIAL_CTS},
    {EV_BREAK, WM_SERIAL_BREAK},
    {EV_ERR, WM_SERIAL_ERROR},
    {EV_RING, WM_SERIAL_RING},
    {EV_RXFLAG, WM_SERIAL_RXFLAG},
}};

}  // namespace

CSerialChannel::CSerialChannel(std::shared_ptr<IPortOpener> opener, std::shared_ptr<IClock> clock)
    : m_opener(std::move(opener)),
      m_clock(std::move(clock)),
      m_messenger(std::make_unique<CWindowMessenger>()) {}

CSerialChannel::~CSerialChannel() {
  // The owner is being destroyed: nothing may be delivered to it any more,
  // and a monitor waiting on a delivery must be let go, or it would never
  // see the shutdown.
  m_messenger->Abandon();
  StopMonitor();
  std::lock_guard lock(m_lock);
  m_hPort.reset();
  m_bHasPort = false;
}

std::string CSerialChannel::DescribeFailure() const {
  return DescribeLineFailure(m_pLastFailure.load(), m_nFailureErrno.load(), m_lastOpen.path);
}

void CSerialChannel::ReportFailure(const char* label, int error) {
  m_nFailureErrno = error;
  m_pLastFailure = label;
  m_bError = 1;
}

void CSerialChannel::StopMonitor() {
  if (!m_pThread.joinable()) return;
  // Signalled first, so that the monitor reads no further byte; then the
  // delivery it may be blocked on is let go without being handled. A byte
  // whose handling has already begun (further up this thread's stack) is
  // finished by that handler; none is started here, so no protocol work
  // ever runs inside Close or Open.
  m_hStopRequest.Set();
  m_messenger->BeginStop();
  // Every wait of the monitor ends by itself: the shutdown event is in its
  // wait set and its drain wait, deliveries are refused, and reads and
  // writes are bounded by their time-outs.
  m_pThread.join();
}

bool CSerialChannel::PrepareEvents() {
  for (CManualEvent* event : {&m_hWriteRequest, &m_hStopRequest}) {
    if (event->Exists()) {
      event->Reset();
    } else if (!event->Create()) {
      return false;
    }
  }
  return true;
}

int CSerialChannel::Open(CSerialOwner* owner, unsigned port, int baud, char parity, int dataBits,
                         int stopBits, std::uint32_t eventMask, std::uint32_t bufferSize) {
  StopMonitor();
  m_lastOpen = {};
  // Without its events the monitor could never be stopped: such an open
  // is one that cannot be done.
  const bool eventsReady = PrepareEvents();
  if (!eventsReady) {
    m_lastOpen.error = errno != 0 ? errno : EMFILE;
    m_lastOpen.path = ComDevicePath(port);
  }

  m_pNotifyWnd = owner;
  m_messenger->SetTarget(owner);
  {
    std::lock_guard buffer(m_bufferLock);
    m_pWriteBuffer = std::make_unique<std::uint8_t[]>(bufferSize);
    m_nWriteLength = 0;
  }
  m_pInFlight = std::make_unique<std::uint8_t[]>(bufferSize);
  m_nPortNumber = port;
  m_nBufferSize = bufferSize;
  m_dwEventMask = eventMask;

  std::lock_guard lock(m_lock);
  m_hPort.reset();
  m_bHasPort = false;
  if (!eventsReady) return 0;

  const std::string name = ComDeviceName(port);
  char settings[64];
  std::snprintf(settings, sizeof settings, "baud=%d parity=%c data=%d stop=%d", baud, parity,
                dataBits, stopBits);

  m_hPort = m_opener->Open(name, m_lastOpen);
  if (!m_hPort) {
    if (m_lastOpen.error == 0) m_lastOpen.error = ENODEV;
    return 0;
  }
  m_bHasPort = true;

  m_timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
  [&] {
    if (!m_hPort->SetTimeouts(m_timeouts)) return ReportFailure("SetCommTimeouts()", errno);
    if (!m_hPort->SetMask(eventMask)) return ReportFailure("SetCommMask()", errno);
    if (!m_hPort->GetState(m_lineState)) return ReportFailure("GetCommState()", errno);
    m_lineState.eventChar = kEventChar;
    m_lineState.rtsEnabled = true;
    if (!m_hPort->BuildState(settings, m_lineState)) return ReportFailure("BuildCommDCB()", errno);
    if (!m_hPort->SetState(m_lineState)) return ReportFailure("SetCommState()", errno);
  }();

  m_hPort->Purge();
  return 1;
}

int CSerialChannel::StartMonitor() {
  StopMonitor();
  // A monitor whose shutdown cannot be signalled could never be stopped.
  if (!m_hStopRequest.Exists() || !m_hWriteRequest.Exists()) return 0;
  try {
    m_pThread = std::thread([this] { MonitorLoop(); });
  } catch (const std::system_error&) {
    return 0;
  }
  return 1;
}

WriteTicket CSerialChannel::QueueWrite(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(m_bufferLock);
  if (!m_pWriteBuffer || bytes.size() > m_nBufferSize) return 0;
  std::memcpy(m_pWriteBuffer.get(), bytes.data(), bytes.size());
  m_nWriteLength = static_cast<std::uint32_t>(bytes.size());
  if (++m_nLastTicket == 0) m_nLastTicket = 1;
  m_nTicket = m_nLastTicket;
  m_hWriteRequest.Set();
  return m_nTicket;
}

void CSerialChannel::Close() {
  StopMonitor();
  {
    std::lock_guard buffer(m_bufferLock);
    m_pWriteBuffer.reset();
    m_nWriteLength = 0;
  }
  std::lock_guard lock(m_lock);
  m_hPort.reset();
  m_bHasPort = false;
}

bool CSerialChannel::HasPort() const { return m_bHasPort; }

bool CSerialChannel::HasWriteBuffer() const {
  std::lock_guard lock(m_bufferLock);
  return m_pWriteBuffer != nullptr;
}

void CSerialChannel::MonitorLoop() {
  // Only this thread touches the port until it ends: Open and Close stop
  // it first. The pointer itself changes only under the lock.
  ISerialPort* port = m_hPort.get();
  if (port != nullptr) port->Purge();
  m_nBatch = 0;
  // Raised after the start-up purge, so that whoever sees it knows that
  // bytes arriving from now on will be delivered.
  m_bRunning = 1;

  // The comm event is the port's own readiness; only the kinds poll() can
  // see are worth waiting for, or a readable port would wake us forever.
  bool watchPort = port != nullptr && (m_dwEventMask & (EV_RXCHAR | EV_RXFLAG)) != 0;
  // Bytes delivered at the last wake-up: many means a burst is on.
  std::size_t drained = 0;

  for (;;) {
    int portFd = -1;
    if (watchPort) {
      if (!port->StartWait()) ReportFailure("WaitCommEvent()", errno);
      portFd = port->EventFd();
    }
    // In priority order: shutdown, comm event, write request.
    std::array<pollfd, 3> waitSet{{
        {m_hStopRequest.Fd(), POLLIN, 0},
        {portFd, POLLIN, 0},
        {m_hWriteRequest.Fd(), POLLIN, 0},
    }};
    // Bytes the port already holds would never wake the wait: look, and
    // go on as if the port had fired.
    const bool held = watchPort && port->Held() > 0;
    const int ready = ::poll(waitSet.data(), waitSet.size(), held ? 0 : -1);
    if (ready == 0 && held) waitSet[1].revents = POLLIN;
    if (ready < 0) {
      if (errno == EINTR) continue;
      ReportFailure("WaitCommEvent()", errno);
      // Without a working wait there is nothing to do but wait for the end.
      waitSet = {{{m_hStopRequest.Fd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}}};
      ::poll(waitSet.data(), 1, -1);
    }

    if (waitSet[0].revents != 0) {
      {
        std::lock_guard lock(m_lock);
        m_hPort.reset();
        m_bHasPort = false;
      }
      m_nExitCode = kMonitorExitCode;
      m_bRunning = 0;
      return;
    }

    if ((waitSet[1].revents & POLLNVAL) != 0) {
      // The port's descriptor is no longer one: waiting on it is over.
      ReportFailure("WaitCommEvent()", EBADF);
      watchPort = false;
    } else if (waitSet[1].revents != 0) {
      // The event fired with nothing queued: start the wait again.
      PortStatus status;
      if (port->QueryStatus(status) && status.waiting == 0 && !status.broken) continue;
      if (!status.broken && status.waiting < kReceiveBatch && drained < kReceiveBatch) {
        // Let a trickle gather; a shutdown ends the wait at once. Not
        // inside a burst, where the reader merely caught up with the line.
        if (m_clock->WaitFor(&m_hStopRequest, kReceiveHold)) continue;
      }
      const std::size_t before = m_nBytesRead;
      // One hand-over to the window per wake-up: the bytes, then the other
      // enabled notifications, each handled on its own and in order.
      const std::uint32_t enabled = port->GetMask();
      for (const auto& action : kEventActions) {
        if ((enabled & action.kind) == 0) continue;
        if (action.message == 0) {
          DrainInput();
        } else {
          m_batch[m_nBatch++] = {action.message, 0};
        }
      }
      Deliver();
      drained = m_nBytesRead - before;
    } else if (waitSet[2].revents != 0) {
      WritePending();
    }
  }
}

void CSerialChannel::Deliver() {
  if (m_nBatch == 0) return;
  m_messenger->Send({m_batch.data(), m_nBatch}, static_cast<std::intptr_t>(m_nPortNumber));
  m_nBatch = 0;
}

void CSerialChannel::DrainInput() {
  ISerialPort* port = m_hPort.get();
  // Bytes known to be waiting. Once they are read, a burst still going on
  // is followed; a trickle that came in meanwhile goes back to the wait,
  // to be gathered and delivered with what follows it.
  std::size_t known = 0;
  bool first = true;
  for (;;) {
    if (m_hStopRequest.IsSet()) return;
    PortStatus status;
    {
      std::lock_guard lock(m_lock);
      if (!port->QueryStatus(status)) status = {};
    }
    if (status.waiting == 0 && !status.broken) return;
    if (known == 0) {
      if (!first && !status.broken && status.waiting < kReceiveBatch) return;
      known = std::max<std::size_t>(status.waiting, 1);
      first = false;
    }

    std::uint8_t byte = 0;
    const char* failure = nullptr;
    {
      std::lock_guard lock(m_lock);
      switch (port->ReadByte(byte)) {
        case IoResult::Done:
          break;
        case IoResult::Pending:
          if (!port->FinishRead(byte)) failure = "GetOverlappedResults() in ReadFile()";
          break;
        case IoResult::Failed:
          failure = "ReadFile()";
          break;
      }
    }
    --known;
    ++m_nBytesRead;
    if (failure != nullptr) {
      // The bytes read before it are handled first, as good bytes; then the
      // failure is reported and its notification still sent, with a
      // meaningless byte: the owner finds m_bError set, drops it and
      // closes the port.
      Deliver();
      ReportFailure(failure, port->LastErrno());
    }
    m_batch[m_nBatch++] = {WM_SERIAL_BYTE, byte};
    // Room is kept for the notifications that follow the bytes.
    if (failure != nullptr || m_nBatch == kMaxBatchBytes) Deliver();
  }
}

std::chrono::microseconds CSerialChannel::ByteTime() const {
  const int baud = m_lineState.baud > 0 ? m_lineState.baud : 57600;
  const int bits = 1 + m_lineState.dataBits + (m_lineState.parity != 'N' ? 1 : 0) + m_lineState.stopBits;
  return microseconds(1'000'000LL * bits / baud + 1);
}

WriteOutcome CSerialChannel::WriteAndDrain(std::span<const std::uint8_t> bytes) {
  // Bounded by the constant write time-out plus twice the time the bytes
  // take on the wire: a line that sends at all sends in that time, and a
  // stalled one does not hold the monitor for the per-byte total.
  const auto wireTime = ByteTime() * static_cast<long>(bytes.size());
  const auto deadline = m_clock->Now() + milliseconds(m_timeouts.writeTotalConstant) + wireTime * kWireTimeMargin;
  auto left = [&] {
    return std::chrono::duration_cast<microseconds>(deadline - m_clock->Now());
  };

  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t written = 0;
    switch (m_hPort->Write(bytes.subspan(done), written)) {
      case IoResult::Done:
        done += written;
        break;
      case IoResult::Pending:
        if (left().count() <= 0) return WriteOutcome::Stalled;
        // A close must not wait for a stalled line's time-out.
        if (!m_hPort->WaitWritable(std::chrono::duration_cast<milliseconds>(left()) + milliseconds(1),
                                   &m_hStopRequest)) {
          if (m_hStopRequest.IsSet()) return WriteOutcome::Stopped;
          if (left().count() <= 0) return WriteOutcome::Stalled;
        }
        break;
      case IoResult::Failed:
        return WriteOutcome::Refused;
    }
  }

  // Complete once the line has sent it: the next request's purge would
  // otherwise throw away whatever still sits in the output queue.
  for (;;) {
    std::size_t queued = 0;
    if (!m_hPort->OutputQueued(queued)) return WriteOutcome::Refused;
    if (queued == 0) return WriteOutcome::Sent;
    if (left().count() <= 0) return WriteOutcome::Stalled;
    const auto expected = ByteTime() * static_cast<long>(queued);
    const auto wait = std::clamp(std::min(expected, left()), kShortestDrainWait, kLongestDrainWait);
    // A shutdown ends the wait: the port is being closed and the rest of
    // the command goes with it.
    if (m_clock->WaitFor(&m_hStopRequest, wait)) return WriteOutcome::Stopped;
  }
}

void CSerialChannel::WritePending() {
  m_hWriteRequest.Reset();
  std::uint32_t length = 0;
  WriteTicket ticket = 0;
  {
    std::lock_guard buffer(m_bufferLock);
    if (!m_pWriteBuffer || !m_pInFlight) return;
    length = m_nWriteLength;
    ticket = m_nTicket;
    std::memcpy(m_pInFlight.get(), m_pWriteBuffer.get(), length);
  }
  const std::span<const std::uint8_t> bytes{m_pInFlight.get(), length};
  WriteOutcome outcome = WriteOutcome::Refused;
  {
    std::lock_guard lock(m_lock);
    if (!m_hPort) return;
    m_hPort->Purge();
    outcome = WriteAndDrain(bytes);
  }
  const bool failed = outcome == WriteOutcome::Stalled || outcome == WriteOutcome::Refused;
  if (failed) {
    int error = ETIMEDOUT;
    if (outcome == WriteOutcome::Refused) {
      std::lock_guard lock(m_lock);
      error = m_hPort && m_hPort->LastErrno() != 0 ? m_hPort->LastErrno() : EIO;
    }
    ReportFailure("WriteFile()", error);
  }
  Trace(TraceDirection::Sent, m_nPortNumber, bytes,
        failed ? "not sent whole: " + DescribeFailure()
               : outcome == WriteOutcome::Stopped ? std::string("cut off: the port was closed") : std::string());
  // Told without waiting for the owner, whose thread may be busy; a stop
  // drops it, and the owner then knows the port was closed under the write.
  m_messenger->Post(WM_SERIAL_WRITTEN, WriteResultParam(ticket, outcome), static_cast<std::intptr_t>(m_nPortNumber));
}

}  // namespace vantorq
