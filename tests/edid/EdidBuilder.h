#pragma once
// Builds test EDIDs byte by byte.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "EdidReport.h"

namespace vantorq::test {

struct EdidBuilder {
  std::array<std::uint8_t, 256> bytes{};

  EdidBuilder& At(std::size_t offset, std::initializer_list<int> values) {
    for (int v : values) bytes.at(offset++) = static_cast<std::uint8_t>(v);
    return *this;
  }
  // A CEA-861 extension header with DTD offset d and capability byte.
  EdidBuilder& Cea(int d, int flags = 0) { return At(126, {1}).At(128, {0x02, 0x03, d, flags}); }
  // An 18-byte timing at `offset`.
  EdidBuilder& Timing(std::size_t offset, int clock, int h, int hBlank, int v, int vBlank,
                      bool interlaced = false) {
    At(offset, {clock & 0xFF, clock >> 8, h & 0xFF, hBlank & 0xFF, ((h >> 8) << 4) | (hBlank >> 8),
                v & 0xFF, vBlank & 0xFF, ((v >> 8) << 4) | (vBlank >> 8)});
    bytes.at(offset + 17) = interlaced ? 0x80 : 0x00;
    return *this;
  }

  std::string Section(int section) const {
    EdidReport report;
    report.DecodeSection(bytes, section);
    switch (section) {
      case kVideoSection: return report.m_strVideo;
      case kAudioSection: return report.m_strAudio;
      default: return report.m_strGeneral;
    }
  }
  std::string Video() const { return Section(kVideoSection); }
  std::string Audio() const { return Section(kAudioSection); }
  std::string General() const { return Section(kGeneralSection); }
};

// Whether `text` holds `line` (given without its CR LF) as a whole line.
inline bool HasLine(const std::string& text, const std::string& line) {
  const std::string whole = line + "\r\n";
  for (std::size_t at = text.find(whole); at != std::string::npos; at = text.find(whole, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return true;
  }
  return false;
}

}  // namespace vantorq::test
