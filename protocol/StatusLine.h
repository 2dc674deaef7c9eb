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
// in the order EDID, VIDEO, IMAGE ENH. Values are digits: an "EDID " value
// is two digits, or one followed by the line end (CR, or LF from a device
// that sends none); the other tags take one digit. A line whose tag is
// followed by anything else is acted on by nobody: noise must not move a
// page.
StatusUpdate ParseStatusLine(std::string_view line);

}  // namespace vantorq::protocol
