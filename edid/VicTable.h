#pragma once
// The video formats CTA-861 numbers (VICs): what each one is.

#include <string_view>

namespace vantorq::edid {

struct VicTiming {
  int vic;
  int width;
  int height;  // the frame's, both fields of an interlaced one
  bool interlaced;
  double refresh;  // Hz: frames, or fields when interlaced
  int pixelClockKhz;
  std::string_view aspect;
};

// The VIC's format; null for a number CTA-861 leaves unassigned.
const VicTiming* FindVic(int vic);

}  // namespace vantorq::edid
