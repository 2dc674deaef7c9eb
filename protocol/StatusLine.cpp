#include "StatusLine.h"

namespace vantorq::protocol {

namespace {

constexpr std::string_view kEdidTag = "EDID ";
constexpr std::string_view kVideoTag = "VIDEO ";
constexpr std::string_view kEnhancementTag = "IMAGE ENH ";

bool IsDigit(std::string_view line, std::size_t at) { return at < line.size() && line[at] >= '0' && line[at] <= '9'; }
int Digit(std::string_view line, std::size_t at) { return line[at] - '0'; }

}  // namespace

StatusUpdate ParseStatusLine(std::string_view line) {
  const auto edid = line.find(kEdidTag);
  // A line whose first character starts the tag is not an EDID status.
  if (edid != std::string_view::npos && edid >= 1) {
    // The line's one tag: a value that is not one or two digits (noise on
    // the line) is acted on by nobody, and the page keeps its state.
    const std::size_t c5 = edid + kEdidTag.size();
    const std::size_t c6 = c5 + 1;
    if (!IsDigit(line, c5)) return {};
    if (IsDigit(line, c6)) return {StatusKind::Edid, Digit(line, c5) * 10 + Digit(line, c6)};
    // One digit ends at the line end, CR or (a device that sends no CR) LF.
    if (c6 < line.size() && (line[c6] == '\r' || line[c6] == '\n')) return {StatusKind::Edid, Digit(line, c5)};
    return {};
  }
  if (const auto video = line.find(kVideoTag); video != std::string_view::npos) {
    const std::size_t at = video + kVideoTag.size();
    return IsDigit(line, at) ? StatusUpdate{StatusKind::Scaler, Digit(line, at)} : StatusUpdate{};
  }
  if (const auto enh = line.find(kEnhancementTag); enh != std::string_view::npos) {
    const std::size_t at = enh + kEnhancementTag.size();
    if (IsDigit(line, at)) return {StatusKind::Enhancement, Digit(line, at)};
  }
  return {};
}

}  // namespace vantorq::protocol
