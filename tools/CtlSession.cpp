#include "CtlSession.h"

#include <QEventLoop>
#include <QTimer>

#include "Commands.h"
#include "ReadBack.h"
#include "ReadBackService.h"

namespace vantorq::tool {

namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kBufferSize = 1024;
// 57600 baud, ten bits a byte.
constexpr auto kByteTime = std::chrono::microseconds(174);

milliseconds WireTime(std::size_t bytes) {
  return std::chrono::duration_cast<milliseconds>(kByteTime * static_cast<long>(bytes)) + milliseconds(1);
}

}  // namespace

CCtlSession::CCtlSession(std::shared_ptr<IPortOpener> opener, milliseconds replyWait)
    : m_serial(std::move(opener)), m_searchTimer(std::make_unique<QTimer>()), m_replyWait(replyWait) {
  m_searchTimer->setTimerType(Qt::PreciseTimer);
  m_searchTimer->setSingleShot(true);
  QObject::connect(m_searchTimer.get(), &QTimer::timeout, [this] { m_search.OnTimer(); });
}

CCtlSession::~CCtlSession() { m_serial.Close(); }

void CCtlSession::Interrupt() {
  m_interrupted = true;
  if (m_wake) m_wake();
}

bool CCtlSession::Open(int port) {
  m_nPort = port;
  return OpenPort(port);
}

bool CCtlSession::OpenPort(int port) {
  // A failure of the port tried before says nothing about this one.
  m_serial.m_bError = 0;
  m_lineFailed = false;
  m_router.Reset();
  if (m_serial.Open(this, static_cast<unsigned>(port), 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, kBufferSize) == 0) {
    return false;
  }
  m_serial.StartMonitor();
  return true;
}

void CCtlSession::ClosePort() {
  m_router.Reset();
  m_serial.Close();
}

void CCtlSession::SendProbe() { m_serial.QueueWrite(protocol::ProbeCommand()); }

std::string CCtlSession::FailureLabel() const {
  const char* label = m_serial.LastFailure();
  return label != nullptr ? label : "";
}

void CCtlSession::SetSearchTimer(int periodMs) { m_searchTimer->start(periodMs); }

void CCtlSession::KillSearchTimer() { m_searchTimer->stop(); }

bool CCtlSession::Find(int& port, std::string& detail) {
  m_found = false;
  m_noDevice.reset();
  m_search.Start();
  // The last window ends within 99 steps of 400 ms.
  Wait([&] { return m_found || m_noDevice.has_value(); }, milliseconds(500 + 99 * 400 + 1000));
  if (m_interrupted) m_search.Cancel();
  port = m_nPort;
  detail = m_noDevice.value_or("");
  return m_found;
}

void CCtlSession::OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == WM_SERIAL_WRITTEN) {
    m_written[WrittenTicket(wParam)] = WrittenOutcome(wParam);
    m_lastTold = std::max(m_lastTold, WrittenTicket(wParam));
    if (m_serial.m_bError != 0) m_lineFailed = true;
  } else if (message == WM_SERIAL_BYTE) {
    const RouterEvent event = m_router.OnSerialByte(static_cast<unsigned>(wParam & 0xFF), static_cast<unsigned>(lParam),
                                                    m_serial.m_bError != 0);
    switch (event.kind) {
      case RouterEvent::Kind::None:
        break;
      case RouterEvent::Kind::CommError:
        if (m_search.m_bSearching != 0) {
          // As the window's timer 5 does: after this byte's handling.
          QTimer::singleShot(1, [this] {
            if (m_serial.m_bError != 0) m_search.OnPortFailed();
          });
        } else {
          m_lineFailed = true;
        }
        break;
      case RouterEvent::Kind::EdidStatus:
        m_state.preset = event.value;
        m_search.OnEdidStatus();
        break;
      case RouterEvent::Kind::ScalerStatus:
        m_state.scaler = event.value - 1;
        m_state.scalerSeen = true;
        break;
      case RouterEvent::Kind::EnhancementStatus:
        m_state.enhancement = event.value;
        break;
      case RouterEvent::Kind::ReadBackLine:
        m_reply = std::string(event.line);
        break;
    }
  }
  if (m_wake) m_wake();
}

bool CCtlSession::Wait(const std::function<bool()>& done, milliseconds limit) {
  if (done()) return true;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  m_wake = [&] {
    if (done() || m_lineFailed || m_interrupted) loop.quit();
  };
  timer.start(limit);
  if (!m_interrupted) loop.exec();
  m_wake = nullptr;
  return done();
}

std::string CCtlSession::LineFailure() const {
  if (m_interrupted) return "interrupted";
  const char* label = m_serial.LastFailure();
  return std::string("the line failed (") + (label != nullptr ? label : "?") + ") \u2014 is the adapter still plugged in?";
}

bool CCtlSession::Send(std::span<const std::uint8_t> command, std::string& why) {
  const WriteTicket ticket = m_serial.QueueWrite(command);
  if (ticket == 0) {
    why = "the port is not open";
    return false;
  }
  // The channel tells every write it takes up, within its own deadline.
  const auto limit = milliseconds(1000) + 2 * WireTime(command.size()) + milliseconds(500);
  const bool told = Wait([&] { return m_written.count(ticket) != 0 || m_lastTold > ticket; }, limit);
  const auto it = m_written.find(ticket);
  if (!told || it == m_written.end()) {
    why = m_interrupted ? "interrupted" : m_lineFailed ? LineFailure() : "the write was not told to have ended";
    return false;
  }
  if (it->second != WriteOutcome::Sent) {
    why = DescribeWriteOutcome(it->second);
    return false;
  }
  return true;
}

bool CCtlSession::AskState(DeviceState& state, std::string& why) {
  m_state = {};
  if (!Send(protocol::ProbeCommand(), why)) return false;
  if (!Wait([&] { return m_state.Complete(); }, m_replyWait)) {
    why = m_lineFailed || m_interrupted ? LineFailure()
                                        : "no answer within " + std::to_string(m_replyWait.count()) + " ms";
    state = m_state;
    return false;
  }
  state = m_state;
  return true;
}

bool CCtlSession::ReadEdid(std::span<const std::uint8_t> command, EdidBuffer& edid, std::string& why) {
  m_reply.reset();
  m_router.AwaitReadBack();
  if (!Send(command, why)) return false;
  // The reply takes 785 bytes' time on the wire on top of the answer.
  if (!Wait([&] { return m_reply.has_value(); }, m_replyWait + WireTime(785))) {
    why = m_lineFailed || m_interrupted ? LineFailure()
                                        : "no EDID reply within " + std::to_string((m_replyWait + WireTime(785)).count()) + " ms";
    return false;
  }
  EdidBuffer parsed = edid;
  const std::size_t pairs = protocol::ParseEdidReply(*m_reply, parsed);
  why = DescribeBrokenReply(*m_reply, pairs);
  if (!why.empty()) return false;
  edid = parsed;
  return true;
}

}  // namespace vantorq::tool
