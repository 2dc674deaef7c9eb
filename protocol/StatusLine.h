#pragma once
// Reading the device's status lines: which one tag a line carries and the
// value after it.

#include <string_view>

namespace vantorq::protocol {

enum class StatusKind {
  None,         // no tag the console acts on
  Edid,         // "EDID " (not at the start of the line): the preset
  Scaler,       // "VIDEO ": the scaler mode as the device counts it (1..4)
  Enhancement,  // "IMAGE ENH ": the enhancement level (0..3)
};

struct StatusUpdate {
  StatusKind kind = StatusKind::None;
  int value = 0;
};

// `line` is a whole status line including its final LF. One tag counts,
// in the order EDID, VIDEO, IMAGE ENH. Values are taken as the device
// sends them, digits or not: a non-digit gives whatever its code minus '0'
// is. An "EDID " value is one digit followed by CR, otherwise two
// characters (so 7 then LF reads as 7 x 10 + (LF - '0') = 32).
StatusUpdate ParseStatusLine(std::string_view line);

}  // namespace vantorq::protocol
