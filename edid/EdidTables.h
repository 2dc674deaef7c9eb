#pragma once
// The words the decoder prints: video format labels by CEA-861 video code,
// audio format names, and the sample-rate and sample-size words of a short
// audio descriptor. Printed exactly as stored.

#include <array>
#include <string_view>

namespace vantorq::edid {

inline constexpr int kFirstVic = 1;
inline constexpr int kLastVic = 107;

// Labels for VIC 1..107; index 0 is VIC 1.
extern const std::array<std::string_view, 107> VicLabelTable;
extern const std::array<std::string_view, 16> AudioFormatTable;
extern const std::array<std::string_view, 7> SampleRateTable;
extern const std::array<std::string_view, 3> SampleSizeTable;

// The label of `vic`; empty outside 1..107.
std::string_view VicLabel(int vic);

}  // namespace vantorq::edid
