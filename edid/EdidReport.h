#pragma once
// The EDID report: three section texts decoded from a 256-byte EDID (base
// block and one extension). Every line ends in CR LF.

#include <cstdint>
#include <span>
#include <string>

#include "EdidBuffer.h"

namespace vantorq {

enum EdidSection : int {
  kVideoSection = 0,
  kAudioSection = 1,
  kGeneralSection = 2,
};

class EdidReport {
 public:
  // Appends the text of one section of `edid` to its string; any other
  // section value appends nothing. Keeps no state between calls, tests no
  // header or checksum, and never fails.
  void DecodeSection(EdidView edid, int section);

  // Empties the three texts.
  void Clear();

  std::string m_strVideo;
  std::string m_strAudio;
  std::string m_strGeneral;
};

}  // namespace vantorq
