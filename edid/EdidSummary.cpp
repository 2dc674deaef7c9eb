#include "EdidSummary.h"

#include <algorithm>
#include <string_view>

namespace vantorq {

namespace {

// Appends the line of `key`'s first occurrence, from the key on; false if
// the key does not occur.
bool CopyLine(std::string_view text, std::string_view key, std::string& out) {
  const auto at = text.find(key);
  if (at == std::string_view::npos) return false;
  const auto lf = text.find('\n', at);
  out.append(text.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at + 1));
  return true;
}

}  // namespace

std::string EdidSummary(const EdidReport& report) {
  std::string out;
  out.reserve(256);  // seven short lines: one allocation
  CopyLine(report.m_strGeneral, "Manufacture's Name", out);
  CopyLine(report.m_strGeneral, "Maximum Pixel Clock", out);
  CopyLine(report.m_strGeneral, "3D video", out);
  CopyLine(report.m_strVideo, "Preferred Timing", out);
  CopyLine(report.m_strVideo, "Detailed Timing", out);
  if (CopyLine(report.m_strAudio, "Audio Format", out)) CopyLine(report.m_strAudio, "Audio Channel", out);
  return out;
}

std::string DecodeAndSummarise(EdidReport& report, EdidView edid) {
  report.Clear();
  report.DecodeSection(edid, kVideoSection);
  report.DecodeSection(edid, kAudioSection);
  report.DecodeSection(edid, kGeneralSection);
  return EdidSummary(report);
}

}  // namespace vantorq
