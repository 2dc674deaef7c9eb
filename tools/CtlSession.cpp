#include "CtlSession.h"

#include <QEventLoop>
#include <QTimer>

#include <cctype>

#include "Commands.h"
#include "ReadBack.h"
#include "ReadBackService.h"

namespace vantorq::tool {

namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kBufferSize = 1024;
constexpr std::size_t kReplyBytes = 785;

std::unique_ptr<QTimer> SingleShot(std::function<void()> fired) {
  auto timer = std::make_unique<QTimer>();
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(true);
  QObject::connect(timer.get(), &QTimer::timeout, std::move(fired));
  return timer;
}

}  // namespace

CCtlSession::CCtlSession(std::shared_ptr<IPortOpener> opener, milliseconds replyWait, std::shared_ptr<IClock> clock)
    : m_serial(std::move(opener), std::move(clock)),
      m_searchTimer(SingleShot([this] { m_search.OnTimer(); })),
      m_replyTimer(SingleShot([this] {
        m_router.ForgetReadBack(ReplyFor::Verification);
        m_userEdid.OnReplyTimeout();
        if (m_wake) m_wake();
      })),
      m_replyWait(replyWait) {}

CCtlSession::~CCtlSession() { m_serial.Close(); }

void CCtlSession::Interrupt() {
  ++m_interrupts;
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
  m_state = {};
  if (m_serial.Open(this, static_cast<unsigned>(port), 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, kBufferSize) == 0) {
    return false;
  }
  m_serial.StartMonitor();
  return true;
}

void CCtlSession::ClosePort() {
  m_router.Reset();
  m_serial.Close();
  m_waits.EndAll(WriteOutcome::Stopped);
}

void CCtlSession::SendProbe() { m_serial.QueueWrite(protocol::ProbeCommand()); }

std::string CCtlSession::FailureLabel() const { return m_serial.DescribeFailure(); }

void CCtlSession::SetSearchTimer(int periodMs) { m_searchTimer->start(periodMs); }

void CCtlSession::KillSearchTimer() { m_searchTimer->stop(); }

void CCtlSession::StartReplyTimer(milliseconds limit) { m_replyTimer->start(limit); }

void CCtlSession::StopReplyTimer() { m_replyTimer->stop(); }

bool CCtlSession::Find(int& port, std::string& detail) {
  m_found = false;
  m_noDevice.reset();
  m_search.Start();
  // The last window ends within 99 steps of 400 ms.
  Wait([&] { return m_found || m_noDevice.has_value(); }, milliseconds(500 + 99 * 400 + 1000));
  if (Stopped()) m_search.Cancel();
  port = m_nPort;
  detail = m_noDevice.value_or("");
  return m_found;
}

void CCtlSession::OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == WM_SERIAL_WRITTEN) {
    if (m_serial.m_bError != 0) m_lineFailed = true;
    m_waits.OnWritten(WrittenTicket(wParam), WrittenOutcome(wParam));
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
        if (event.replyFor == ReplyFor::Verification) {
          m_userEdid.OnReply(event.line);
        } else {
          m_reply = std::string(event.line);
        }
        break;
    }
  }
  if (m_lineFailed) {
    m_userEdid.Abandon("The line failed (" + m_serial.DescribeFailure() + ")");
  }
  if (m_wake) m_wake();
}

bool CCtlSession::Wait(const std::function<bool()>& done, milliseconds limit) {
  if (done()) return true;
  if (Stopped() || m_lineFailed) return false;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  m_wake = [&] {
    if (done() || m_lineFailed || Stopped()) loop.quit();
  };
  timer.start(limit);
  loop.exec();
  m_wake = nullptr;
  return done();
}

std::string CCtlSession::LineFailure() const {
  if (Stopped()) return "interrupted";
  return "the line failed: " + m_serial.DescribeFailure() + " \u2014 " + LineFailureRemedy(m_serial.LastOpenPath());
}

std::string CCtlSession::Unanswered(const std::string& what, milliseconds limit) const {
  if (m_lineFailed || Stopped()) return LineFailure();
  return what + " within " + std::to_string(limit.count()) + " ms.";
}

bool CCtlSession::Send(std::span<const std::uint8_t> command, std::string& why) {
  if (Stopped() || m_lineFailed) {
    why = LineFailure();
    return false;
  }
  const WriteTicket ticket = m_serial.QueueWrite(command);
  if (ticket == 0) {
    why = "the port is not open";
    return false;
  }
  std::optional<WriteOutcome> outcome;
  m_waits.Await(ticket, [&outcome](WriteOutcome o) { outcome = o; });
  // The channel tells every write it takes up, within its own deadline.
  const auto limit = milliseconds(1000) + 2 * WireTime(command.size()) + milliseconds(500);
  if (!Wait([&] { return outcome.has_value(); }, limit)) {
    // Not told: what it would have told is of no use to anyone now.
    m_waits.EndAll(WriteOutcome::Stopped);
    why = Stopped() || m_lineFailed ? LineFailure() : "the line did not say that the command left";
    return false;
  }
  if (*outcome != WriteOutcome::Sent) {
    why = DescribeWriteOutcome(*outcome);
    why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    return false;
  }
  return true;
}

bool CCtlSession::Probe(std::string& why) {
  m_state = {};
  if (!Send(protocol::ProbeCommand(), why)) return false;
  if (!Wait([&] { return m_state.preset >= 0; }, m_replyWait)) {
    why = Unanswered("no answer", m_replyWait);
    return false;
  }
  return true;
}

bool CCtlSession::AskState(DeviceState& state, std::string& why) {
  // What an earlier answer said is no answer to this question.
  m_state = {};
  if (!Send(protocol::ProbeCommand(), why)) return false;
  const bool complete = Wait([&] { return m_state.Complete(); }, m_replyWait);
  state = m_state;
  if (!complete) why = Unanswered("no answer", m_replyWait);
  return complete;
}

bool CCtlSession::ReadEdid(std::span<const std::uint8_t> command, EdidBuffer& edid, std::string& why) {
  m_reply.reset();
  m_router.AwaitReadBack();
  if (!Send(command, why)) return false;
  // The reply takes its time on the wire on top of the answer.
  const milliseconds limit = m_replyWait + WireTime(kReplyBytes);
  if (!Wait([&] { return m_reply.has_value(); }, limit)) {
    m_router.ForgetReadBack(ReplyFor::Page);
    why = Unanswered("no EDID reply", limit);
    return false;
  }
  EdidBuffer parsed = edid;
  const std::size_t pairs = protocol::ParseEdidReply(*m_reply, parsed);
  why = DescribeBrokenReply(*m_reply, pairs);
  if (!why.empty()) return false;
  edid = parsed;
  return true;
}

UserEdidOutcome CCtlSession::WriteUserEdid(EdidView edid, bool verify) {
  std::optional<UserEdidOutcome> outcome;
  if (Stopped() || m_lineFailed) return {UserEdidOutcome::Kind::NotWritten, "Nothing was sent: " + LineFailure() + "."};
  if (!m_userEdid.Start(edid, verify, [&outcome](const UserEdidOutcome& o) { outcome = o; })) {
    return {UserEdidOutcome::Kind::NotWritten, "The port is not open."};
  }
  // The 790 bytes on the wire with the channel's own deadline, then the
  // read-back with its own limit: whichever ends it, it ends.
  const auto limit = milliseconds(1500) + 2 * WireTime(790) + m_userEdid.ReplyLimit() + milliseconds(500);
  if (!Wait([&] { return outcome.has_value(); }, limit)) {
    m_userEdid.Abandon(Stopped() ? "Interrupted" : m_lineFailed ? "The line failed" : "Nothing was heard of it");
  }
  return outcome.value_or(UserEdidOutcome{UserEdidOutcome::Kind::NotWritten, "It was not told to have ended."});
}

}  // namespace vantorq::tool
