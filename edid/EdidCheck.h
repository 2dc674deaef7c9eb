#pragma once
// What is wrong with an EDID as it arrived, apart from its report: the
// length, the header, each block's checksum and the extension count, each
// with the value found and the value it should have.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantorq {

struct EdidProblem {
  enum class Severity {
    Note,   // worth saying; the EDID is still good (more than 256 bytes)
    Error,  // the EDID is damaged or incomplete
  };
  Severity severity;
  std::string text;
};

struct EdidVerdict {
  std::vector<EdidProblem> problems;
  bool Passed() const;
  // One line: "ok", or the errors joined with "; ".
  std::string Summary() const;
};

// `bytes` is the whole input, as long as it was. Its checks:
// - empty: "was empty";
// - shorter than 128: "length 12 is shorter than the 128-byte base block";
// - not a multiple of 128: "length 300 is not a multiple of 128";
// - longer than 256: a note, "length 384: only the first 256 bytes are decoded";
// - "header 00 ff ff ff ff ff ff 01, should be 00 ff ff ff ff ff ff 00";
// - for the base block and the extension within the first 256 bytes:
//   "block 1 checksum 0x12, should be 0x34" (byte 127 of the block);
// - "extension count 2 (byte 126), but 1 extension block follows" when
//   the input stops short of what the count promises (at 256 bytes, the
//   console's whole EDID, a larger count is only a note), and a note when
//   a block follows a count of 0 (it is not decoded). A trailing block of
//   0xFF or 0x00 is padding, as the console pads a base block.
EdidVerdict CheckEdid(std::span<const std::uint8_t> bytes);

// The checksum byte block `block` (0 or 1) of a 256-byte EDID should hold.
// Bytes as lower-case pairs with a blank between: "00 ff ff".
std::string HexPairs(std::span<const std::uint8_t> bytes);

std::uint8_t ExpectedChecksum(std::span<const std::uint8_t> edid, int block);

}  // namespace vantorq
