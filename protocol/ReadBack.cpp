#include "ReadBack.h"

#include <algorithm>

namespace vantorq::protocol {

namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : static_cast<unsigned char>(c) - 87; }

}  // namespace

bool IsEdidReply(std::string_view line) {
  return line.find("EDID ") != std::string_view::npos && line.find("DATA ") != std::string_view::npos;
}

ReplyShape InspectEdidReply(std::string_view line) {
  ReplyShape shape;
  const auto data = line.find("DATA ");
  if (data == std::string_view::npos) return shape;
  bool high = false;
  for (std::size_t pos = data + 5; pos < line.size(); ++pos) {
    if (!IsLowerHex(line[pos])) {
      if (high) shape.split = true;
      high = false;
      continue;
    }
    ++shape.digits;
    if (high && !shape.split) ++shape.wholePairs;
    high = !high;
  }
  return shape;
}

std::size_t ParseEdidReply(std::string_view line, std::span<std::uint8_t, kEdidSize> edid) {
  const auto data = line.find("DATA ");
  if (data == std::string_view::npos) return 0;
  const std::size_t limit = std::min(line.size(), kReplyScanLimit);
  std::size_t pos = data + 5;
  std::size_t parsed = 0;
  for (auto& byte : edid) {
    while (pos < limit && !IsLowerHex(line[pos])) ++pos;
    // The low digit must exist too: a high digit on the very last place
    // has no partner to read.
    if (pos >= limit || pos + 1 >= line.size()) break;
    const int value = DigitValue(line[pos]) * 16 | DigitValue(line[pos + 1]);
    byte = static_cast<std::uint8_t>(value & 0xFF);
    pos += 2;
    ++parsed;
  }
  return parsed;
}

}  // namespace vantorq::protocol
