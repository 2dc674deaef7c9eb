#include "UserEdidWrite.h"

#include <cstdio>

#include "Commands.h"
#include "Presets.h"
#include "ReadBack.h"
#include "ReadBackService.h"

namespace vantorq {

namespace {

constexpr auto kByteTime = std::chrono::microseconds(174);
constexpr std::size_t kReadCommandBytes = 24;
constexpr std::size_t kReplyBytes = 785;

std::string Hex(std::uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", b);
  return text;
}

}  // namespace

std::chrono::milliseconds WireTime(std::size_t bytes) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(kByteTime * static_cast<long>(bytes)) +
         std::chrono::milliseconds(1);
}

std::string CompareKeptEdid(EdidView written, EdidView read) {
  std::size_t first = kEdidSize;
  std::size_t differ = 0;
  for (std::size_t i = 0; i < kEdidSize; ++i) {
    if (written[i] == read[i]) continue;
    if (differ++ == 0) first = i;
  }
  if (differ == 0) return {};
  std::string text = "The unit does not hold the EDID that was written: byte " + std::to_string(first) + " reads " +
                     Hex(read[first]) + " where " + Hex(written[first]) + " was written";
  if (differ > 1) text += " (" + std::to_string(differ) + " bytes differ)";
  return text + ".";
}

CUserEdidWrite::CUserEdidWrite(IUserEdidHost& host, CWriteWaits& waits, std::chrono::milliseconds answer)
    : m_host(host), m_waits(waits), m_answer(answer) {}

std::chrono::milliseconds CUserEdidWrite::ReplyLimit() const {
  return m_answer + WireTime(kReadCommandBytes) + WireTime(kReplyBytes);
}

bool CUserEdidWrite::Start(EdidView edid, bool verify, Done done) {
  if (Busy()) Abandon("Another EDID write began");
  const WriteTicket ticket = m_host.SendCommand(protocol::UserEdidWriteCommand(edid));
  if (ticket == 0) return false;
  std::copy(edid.begin(), edid.end(), m_written.begin());
  m_verify = verify;
  m_done = std::move(done);
  m_state = State::Writing;
  m_waits.Await(ticket, [this, generation = ++m_generation](WriteOutcome outcome) {
    if (generation == m_generation && m_state == State::Writing) OnWriteEnded(outcome);
  });
  return true;
}

void CUserEdidWrite::OnWriteEnded(WriteOutcome outcome) {
  if (outcome != WriteOutcome::Sent) {
    Finish(UserEdidOutcome::Kind::NotWritten, DescribeWriteOutcome(outcome) + ".");
    return;
  }
  if (!m_verify) {
    Finish(UserEdidOutcome::Kind::Unchecked, {});
    return;
  }
  // Preset 15 is where the unit keeps the user EDID; its read command is
  // the one the page sends for that preset.
  m_host.AwaitReply();
  const WriteTicket ticket = m_host.SendCommand(protocol::InputEdidReadCommand(protocol::kUserPreset));
  if (ticket == 0) {
    Unverified("The port closed before preset 15 could be read back.");
    return;
  }
  // Reading already: the reply may come before the line tells that the
  // request left.
  m_state = State::Reading;
  m_waits.Await(ticket, [this, generation = m_generation](WriteOutcome asked) {
    if (generation == m_generation && m_state == State::Reading) OnAskEnded(asked);
  });
  m_host.StartReplyTimer(ReplyLimit());
}

void CUserEdidWrite::OnAskEnded(WriteOutcome outcome) {
  if (outcome == WriteOutcome::Sent) return;
  Unverified("The read-back of preset 15 was not sent: " + DescribeWriteOutcome(outcome) + ".");
}

void CUserEdidWrite::OnReply(std::string_view line) {
  if (!AwaitsReply()) return;
  EdidBuffer read{};
  const std::size_t pairs = protocol::ParseEdidReply(line, read);
  if (std::string broken = DescribeBrokenReply(line, pairs); !broken.empty()) {
    Unverified(broken);
    return;
  }
  if (std::string differ = CompareKeptEdid(m_written, read); !differ.empty()) {
    Finish(UserEdidOutcome::Kind::Differs, std::move(differ));
    return;
  }
  Finish(UserEdidOutcome::Kind::Verified, std::string(kVerifiedText));
}

void CUserEdidWrite::OnReplyTimeout() {
  if (!AwaitsReply()) return;
  Unverified("No EDID reply came within " + std::to_string(ReplyLimit().count()) + " ms.");
}

void CUserEdidWrite::Abandon(const std::string& event) {
  switch (m_state) {
    case State::Idle:
      return;
    case State::Writing:
      Finish(UserEdidOutcome::Kind::NotWritten, event + " before it was sent whole.");
      return;
    case State::Reading:
      Unverified(event + " before the unit's copy was read back.");
      return;
  }
}

void CUserEdidWrite::Unverified(const std::string& reason) {
  Finish(UserEdidOutcome::Kind::Unverified, reason + " " + std::string(kUnverifiedText));
}

void CUserEdidWrite::Finish(UserEdidOutcome::Kind kind, std::string text) {
  if (m_state == State::Reading) m_host.StopReplyTimer();
  m_state = State::Idle;
  ++m_generation;
  Done done = std::move(m_done);
  m_done = nullptr;
  if (done) done(UserEdidOutcome{kind, std::move(text)});
}

}  // namespace vantorq
