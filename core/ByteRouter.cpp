#include "ByteRouter.h"

#include <algorithm>

#include "ComPorts.h"
#include "ReadBack.h"
#include "StatusLine.h"
#include "Trace.h"

namespace vantorq {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

CByteRouter::CByteRouter() {
  // Reserved once: a line never makes the buffer grow.
  m_strLine.reserve(kMaxLineLength);
  m_completed.reserve(kMaxLineLength);
}

void CByteRouter::AwaitReadBack(ReplyFor who) {
  m_bReadBack = 1;
  if (m_nWaiting > 0 && m_waiting[m_nWaiting - 1] == who && who == ReplyFor::Page) return;
  if (m_nWaiting == m_waiting.size()) return;  // more asks than replies ever come: the oldest stand
  m_waiting[m_nWaiting++] = who;
}

void CByteRouter::ForgetReadBack(ReplyFor who) {
  for (std::size_t i = 0; i < m_nWaiting; ++i) {
    if (m_waiting[i] != who) continue;
    std::copy(m_waiting.begin() + static_cast<long>(i) + 1, m_waiting.begin() + static_cast<long>(m_nWaiting),
              m_waiting.begin() + static_cast<long>(i));
    --m_nWaiting;
    break;
  }
  m_bReadBack = m_nWaiting > 0 ? 1 : 0;
}

void CByteRouter::Reset() {
  m_bReadBack = 0;
  m_nWaiting = 0;
  m_strLine.clear();
  m_bDiscarding = false;
}

RouterEvent CByteRouter::OnSerialByte(unsigned byte, unsigned port, bool serialError) {
  if (port < kFirstComPort || port > kLastComPort) return {};
  m_port = port;
  // Closing here would wait for the monitor, which waits for us: the
  // window closes the port by timer 5 once this handler has returned.
  if (serialError) return {RouterEvent::Kind::CommError, 0, {}};
  const auto b = static_cast<std::uint8_t>(byte);
  return m_bReadBack != 0 ? OnReadBackByte(b) : OnTextByte(b);
}

bool CByteRouter::Append(std::uint8_t byte) {
  if (m_bDiscarding) {
    m_bDiscarding = byte != '\n';
    return false;
  }
  if (m_strLine.size() >= kMaxLineLength) {
    Trace(TraceDirection::Received, m_port, Bytes(m_strLine), "discarded: no line feed within 4096 bytes");
    m_strLine.clear();
    m_bDiscarding = byte != '\n';
    return false;
  }
  m_strLine.push_back(static_cast<char>(byte));
  if (byte != '\n') return false;
  Trace(TraceDirection::Received, m_port, Bytes(m_strLine));
  return true;
}

RouterEvent CByteRouter::OnTextByte(std::uint8_t byte) {
  if (!Append(byte)) return {};
  const protocol::StatusUpdate update = protocol::ParseStatusLine(m_strLine);
  m_strLine.clear();
  switch (update.kind) {
    case protocol::StatusKind::Edid:
      return {RouterEvent::Kind::EdidStatus, update.value, {}};
    case protocol::StatusKind::Scaler:
      return {RouterEvent::Kind::ScalerStatus, update.value, {}};
    case protocol::StatusKind::Enhancement:
      return {RouterEvent::Kind::EnhancementStatus, update.value, {}};
    case protocol::StatusKind::None:
      break;
  }
  return {};
}

RouterEvent CByteRouter::OnReadBackByte(std::uint8_t byte) {
  if (!Append(byte)) return {};
  if (!protocol::IsEdidReply(m_strLine)) {
    // Status lines and noise while a reply is awaited are dropped.
    m_strLine.clear();
    return {};
  }
  m_completed.swap(m_strLine);
  m_strLine.clear();
  // The page's flag alone (a test may set it) means the page's reply.
  const ReplyFor who = m_nWaiting > 0 ? m_waiting[0] : ReplyFor::Page;
  if (m_nWaiting > 0) {
    std::copy(m_waiting.begin() + 1, m_waiting.begin() + static_cast<long>(m_nWaiting), m_waiting.begin());
    --m_nWaiting;
  }
  m_bReadBack = m_nWaiting > 0 ? 1 : 0;
  return {RouterEvent::Kind::ReadBackLine, 0, m_completed, who};
}

}  // namespace vantorq
