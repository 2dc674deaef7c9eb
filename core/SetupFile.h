#pragma once
// A unit's setup as a text file a person can read and diff: the EDID
// preset, the scaler mode, the enhancement level (each by the number the
// pages give it and its name) and the user EDID as hex. Saved from one unit
// and applied to others by vantorq-ctl.
//
//   # Vantorq setup: ...
//   vantorq-setup 1
//   preset 7 4K60Hz_3D_8CH
//   scaler 2 2K->4K
//   enhancement 1 Weak
//   user-edid
//     00 ff ff ff ff ff ff 00 4c 2d 0d 0f 00 00 00 00
//     ... (16 lines of 16 pairs)
//
// Lines beginning with '#' and blank lines are passed over. Every key is
// needed once; a name must be its number's; an unknown key, a number out
// of range or user EDID bytes other than 256 are errors.

#include <string>
#include <string_view>

#include "EdidBuffer.h"

namespace vantorq {

inline constexpr int kSetupFormat = 1;

struct Setup {
  int preset = 0;       // 0..15
  int scaler = 0;       // 0..3
  int enhancement = 0;  // 0..3
  EdidBuffer userEdid{};
  bool operator==(const Setup&) const = default;
};

std::string FormatSetup(const Setup& setup);

struct SetupParse {
  bool ok = false;
  Setup setup;
  std::string error;  // "line 4: unknown key 'colour'"
};
SetupParse ParseSetup(std::string_view text);

}  // namespace vantorq
