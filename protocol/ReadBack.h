#pragma once
// The device's answer to an EDID read: one line holding "EDID " and
// "DATA ", then the 256 bytes as lower-case hexadecimal pairs.

#include <cstdint>
#include <span>
#include <string_view>

#include "EdidBuffer.h"

namespace vantorq::protocol {

// Only the first this many characters of a reply are searched for digits.
inline constexpr std::size_t kReplyScanLimit = 2000;

// Whether a received line is a read reply at all.
bool IsEdidReply(std::string_view line);

// How the hexadecimal digits after the first "DATA " stand, up to the
// line's end. A whole reply carries exactly 512 lower-case digits, in
// pairs: a noise byte on the line shows as a digit too many or too few, or
// as a pair split by a character that is no digit.
struct ReplyShape {
  std::size_t digits = 0;      // lower-case hexadecimal digits
  std::size_t wholePairs = 0;  // pairs read before the first split one
  bool split = false;          // a high digit was followed by a non-digit
  bool Whole() const { return digits == 2 * kEdidSize && !split; }
};
ReplyShape InspectEdidReply(std::string_view line);

// Parses the bytes after the first "DATA " into `edid`, in order. Scanning
// skips anything that is not 0-9 or a-f to find a high digit; the
// character right after it is the low digit, unchecked (a non-decimal
// character counts as its code minus 87). Where the digits run out, the
// remaining bytes keep what they held. Returns how many bytes were parsed.
std::size_t ParseEdidReply(std::string_view line, std::span<std::uint8_t, kEdidSize> edid);

}  // namespace vantorq::protocol
