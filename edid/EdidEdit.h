#pragma once
// Editing an EDID for the unit's user slot: each change applied in the
// order given, the extension's data blocks and the detailed timings after
// them laid out again so that nothing is left half-overwritten, and both
// checksums made right. A change that cannot be made says why and nothing
// is changed.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantorq::edid {

struct EdidChange {
  enum class Kind {
    Name,         // text: the display name
    Serial,       // number
    Vendor,       // text: three letters
    Product,      // number
    Preferred,    // text: "3840x2160@60", "1920x1080i@50"
    RemoveVics,   // vics
    MaxTmds,      // number: MHz
    AudioLpcm2,   //
    AudioFrom,    // other: the EDID whose audio is taken
    NoHdr,        //
  };
  explicit EdidChange(Kind k, std::string t = {}, long long n = 0) : kind(k), text(std::move(t)), number(n) {}
  Kind kind;
  std::string text;
  long long number = 0;
  std::vector<int> vics;
  std::vector<std::uint8_t> other;
};

struct EditOutcome {
  bool ok = false;
  std::string error;                // why nothing was changed
  std::vector<std::uint8_t> bytes;  // the edited EDID, the size of the input
  std::vector<std::string> done;    // what each change did, one line each
};

// `input` must be 128 or 256 bytes beginning with the EDID header.
EditOutcome EditEdid(std::span<const std::uint8_t> input, const std::vector<EdidChange>& changes);

}  // namespace vantorq::edid
