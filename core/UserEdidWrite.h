#pragma once
// The user-EDID write, proven: the 790-byte command, and once the line has
// sent it whole, preset 15 of input 1 read back and compared with the 256
// bytes written. The window and vantorq-ctl both write through it; the
// host owns the port, the reply timer and the routing of received lines.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "EdidBuffer.h"
#include "WriteOutcome.h"
#include "WriteWaits.h"

namespace vantorq {

inline constexpr std::string_view kVerifiedText = "Verified: the unit holds the 256 bytes written.";
inline constexpr std::string_view kUnverifiedText = "The write could not be verified.";

// The time `bytes` take on the line at 57600 baud (ten bits a byte),
// rounded up to the next millisecond.
std::chrono::milliseconds WireTime(std::size_t bytes);

struct UserEdidOutcome {
  enum class Kind {
    Verified,    // the unit holds the 256 bytes written
    Unchecked,   // sent whole; not read back, as asked
    Differs,     // the unit holds other bytes
    Unverified,  // sent whole, but the read-back failed
    NotWritten,  // the write did not leave whole
  };
  Kind kind = Kind::NotWritten;
  // Verified: kVerifiedText; Differs: where they differ; Unverified: the
  // read-back's reason and kUnverifiedText; NotWritten: what became of
  // the write.
  std::string text;
  bool Done() const { return kind == Kind::Verified || kind == Kind::Unchecked; }
};

// Empty when equal; otherwise "The unit does not hold the EDID that was
// written: byte 131 reads 00 where 7f was written." (offsets from 0, as a
// hex dump counts them).
std::string CompareKeptEdid(EdidView written, EdidView read);

class IUserEdidHost {
 public:
  virtual ~IUserEdidHost() = default;
  // Hands `command` to the line: its ticket, 0 when nothing was sent.
  virtual WriteTicket SendCommand(std::span<const std::uint8_t> command) = 0;
  // The next read reply line is awaited.
  virtual void AwaitReply() = 0;
  // When `limit` has passed, OnReplyTimeout (unless stopped first).
  virtual void StartReplyTimer(std::chrono::milliseconds limit) = 0;
  virtual void StopReplyTimer() = 0;
};

class CUserEdidWrite {
 public:
  using Done = std::function<void(const UserEdidOutcome&)>;
  // `answer`: how long the device may take to start its reply.
  CUserEdidWrite(IUserEdidHost& host, CWriteWaits& waits, std::chrono::milliseconds answer);

  // Sends the write; false when nothing was sent (`done` is not called
  // then). A write still under way ends first, as not written.
  bool Start(EdidView edid, bool verify, Done done);
  bool Busy() const { return m_state != State::Idle; }
  // A read reply line now belongs to the verification.
  bool AwaitsReply() const { return m_state == State::Reading; }
  void OnReply(std::string_view line);
  void OnReplyTimeout();
  // The port closed or failed, or the wait was given up: `event` says
  // which ("The port was closed"), and the write ends as what it had
  // reached ("... before it was sent whole.", "... before the unit's copy
  // was read back. The write could not be verified.").
  void Abandon(const std::string& event);
  // How long the read-back may take once asked.
  std::chrono::milliseconds ReplyLimit() const;

 private:
  enum class State { Idle, Writing, Reading };
  void OnWriteEnded(WriteOutcome outcome);
  void OnAskEnded(WriteOutcome outcome);
  void Unverified(const std::string& reason);
  void Finish(UserEdidOutcome::Kind kind, std::string text);

  IUserEdidHost& m_host;
  CWriteWaits& m_waits;
  std::chrono::milliseconds m_answer;
  State m_state = State::Idle;
  unsigned m_generation = 0;  // a late outcome of an earlier write is not this one's
  bool m_verify = true;
  EdidBuffer m_written{};
  Done m_done;
};

}  // namespace vantorq
