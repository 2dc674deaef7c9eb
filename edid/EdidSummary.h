#pragma once
// The short summary the EDID page shows after a read-back: up to seven
// lines copied out of the report by their keys.

#include <cstdint>
#include <span>
#include <string>

#include "EdidBuffer.h"
#include "EdidReport.h"

namespace vantorq {

// For each key in order, the text from its first occurrence in its section
// up to and including the next LF (or to the end): "Manufacture's Name",
// "Maximum Pixel Clock", "3D video" from the general section, "Preferred
// Timing", "Detailed Timing" from the video section, "Audio Format" and,
// only when that occurred, "Audio Channel" from the audio section.
std::string EdidSummary(const EdidReport& report);

// Empties the report, decodes the three sections in order and returns the
// summary: what a read-back puts on the page.
std::string DecodeAndSummarise(EdidReport& report, EdidView edid);

}  // namespace vantorq
