#include "StatusLine.h"

namespace vantorq::protocol {

namespace {

constexpr std::string_view kEdidTag = "EDID ";
constexpr std::string_view kVideoTag = "VIDEO ";
constexpr std::string_view kEnhancementTag = "IMAGE ENH ";

// The character at `at` read as a digit, unchecked: the device's values are
// taken as they come.
int Digit(std::string_view line, std::size_t at) { return static_cast<unsigned char>(line[at]) - '0'; }

}  // namespace

StatusUpdate ParseStatusLine(std::string_view line) {
  const auto edid = line.find(kEdidTag);
  // A line whose first character starts the tag is not an EDID status.
  if (edid != std::string_view::npos && edid >= 1) {
    const std::size_t c5 = edid + 5;
    const std::size_t c6 = edid + 6;
    if (c6 < line.size()) {
      const int n = line[c6] == '\r' ? Digit(line, c5) : Digit(line, c5) * 10 + Digit(line, c6);
      return {StatusKind::Edid, n};
    }
    // "EDID " right before the LF: there is no second character to read.
    // Such a line carries no value at all and counts as no EDID status.
  }
  if (const auto video = line.find(kVideoTag); video != std::string_view::npos) {
    const std::size_t at = video + kVideoTag.size();
    if (at < line.size()) return {StatusKind::Scaler, Digit(line, at)};
  }
  if (const auto enh = line.find(kEnhancementTag); enh != std::string_view::npos) {
    const std::size_t at = enh + kEnhancementTag.size();
    if (at < line.size()) return {StatusKind::Enhancement, Digit(line, at)};
  }
  return {};
}

}  // namespace vantorq::protocol
