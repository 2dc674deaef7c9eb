#pragma once
// What happens when a byte arrives: each received byte goes to exactly one
// place, and bytes are gathered into lines up to LF. The router says what
// the window must do; it changes no display itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantorq {

// Well above the longest line the device sends (the 785-byte read reply;
// the reply parser looks at 2000 characters at most). A longer line is
// not a line of the device's: it is discarded through its LF.
inline constexpr std::size_t kMaxLineLength = 4096;

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

  // The EDID page asked for a read reply.
  void AwaitReadBack() { m_bReadBack = 1; }
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
  std::string m_completed;
  unsigned m_port = 0;  // of the last byte, for the traffic log
};

}  // namespace vantorq
