#pragma once
// What happens when a byte arrives: each received byte goes to exactly one
// place, and bytes are gathered into lines up to LF. The router says what
// the window must do; it changes no display itself.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantorq {

// Well above the longest line the device sends (the 785-byte read reply;
// the reply parser looks at 2000 characters at most). A longer line is
// not a line of the device's: it is discarded through its LF.
inline constexpr std::size_t kMaxLineLength = 4096;

// Whose read reply a reply line is: the page's read-back (saved to a file)
// or the verification of a user-EDID write (compared, never saved).
enum class ReplyFor : std::uint8_t { Page, Verification };

struct RouterEvent {
  enum class Kind {
    None,          // nothing to do (yet)
    CommError,     // the channel failed: close the port through timer 5
    EdidStatus,    // "EDID ": the preset in `value`; completes a search
    ScalerStatus,  // "VIDEO ": the mode as the device counts it
    EnhancementStatus,
    ReadBackLine,  // the awaited read reply, whole, in `line`
  };
  Kind kind = Kind::None;
  int value = 0;
  // Valid until the next byte is routed.
  std::string_view line;
  // ReadBackLine: who asked for it.
  ReplyFor replyFor = ReplyFor::Page;
};

class CByteRouter {
 public:
  CByteRouter();

  // Per byte, first match wins: a port number outside 1..99 is ignored;
  // after a serial error the byte is dropped and the port must be closed;
  // while a read reply is awaited the byte goes to OnReadBackByte,
  // otherwise to OnTextByte.
  RouterEvent OnSerialByte(unsigned byte, unsigned port, bool serialError);
  // A status line: one tag acted on per line, at its LF.
  RouterEvent OnTextByte(std::uint8_t byte);
  // The read reply: lines without both "EDID " and "DATA " are dropped
  // and the reply is still awaited; the reply line ends the wait.
  RouterEvent OnReadBackByte(std::uint8_t byte);

  // A read reply was asked for. Replies come in the order asked; a page
  // read asked again before its reply came still awaits one reply.
  void AwaitReadBack(ReplyFor who = ReplyFor::Page);
  // A wait for `who`'s reply ended without it (its time ran out).
  void ForgetReadBack(ReplyFor who);
  // A port was opened or closed, or a search begins: a reply asked of
  // the old port will never come, and a partial line is no line of the
  // new one's.
  void Reset();

  // Received characters of the current line, up to and including LF.
  std::string m_strLine;
  // A read reply is awaited: bytes go to OnReadBackByte.
  int m_bReadBack = 0;

 private:
  // True when `byte` ended a line that is now whole in m_strLine.
  bool Append(std::uint8_t byte);

  bool m_bDiscarding = false;
  // Who awaits the next replies, oldest first; m_bReadBack while any does.
  std::array<ReplyFor, 4> m_waiting{};
  std::size_t m_nWaiting = 0;
  std::string m_completed;
  unsigned m_port = 0;  // of the last byte, for the traffic log
};

}  // namespace vantorq
