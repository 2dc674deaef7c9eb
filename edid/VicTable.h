#pragma once
// The video formats CTA-861 numbers (VICs): what each one is.

#include <string_view>

namespace vantorq::edid {

// A timing's blanking, as a detailed timing descriptor holds it: porches
// and sync widths in pixels (lines of one field when interlaced), and
// whether each sync is positive.
struct Blanking {
  int hFront, hSync, hBack;
  int vFront, vSync, vBack;
  bool hPositive, vPositive;
};

struct VicTiming {
  int vic;
  int width;
  int height;  // the frame's, both fields of an interlaced one
  bool interlaced;
  double refresh;  // Hz: frames, or fields when interlaced
  int pixelClockKhz;
  std::string_view aspect;
  Blanking blanking;
};

// The VIC's format; null for a number CTA-861 leaves unassigned.
const VicTiming* FindVic(int vic);

}  // namespace vantorq::edid
