#include <gtest/gtest.h>

#include <array>
#include <string>

#include "ReadBack.h"

namespace vantorq::protocol {
namespace {

TEST(ReadBackReply, OnlyLinesWithBothKeysAreReplies) {
  EXPECT_TRUE(IsEdidReply("OUT1 EDID DATA 00\r\n"));
  EXPECT_TRUE(IsEdidReply("DATA EDID \n"));
  EXPECT_FALSE(IsEdidReply("IN1 EDID 07\r\n"));
  EXPECT_FALSE(IsEdidReply("DATA 00 11\r\n"));
  EXPECT_FALSE(IsEdidReply("EDIDDATA 00\r\n"));
}

TEST(ReadBackReply, PairsAreLowerCaseHexAndTheLowDigitIsUnchecked) {
  std::array<std::uint8_t, 256> edid;
  edid.fill(0x77);
  EXPECT_EQ(ParseEdidReply("X EDID DATA 00 ff ff ff ff ff ff 00\r\n", edid), 8u);
  EXPECT_EQ(edid[0], 0x00);
  EXPECT_EQ(edid[1], 0xFF);
  EXPECT_EQ(edid[7], 0x00);
  EXPECT_EQ(edid[8], 0x77) << "not supplied: kept";

  edid.fill(0x77);
  // "A" is no high digit; "3A" pairs 3 with 'A' - 87.
  EXPECT_EQ(ParseEdidReply("EDID DATA AB 3A\r\n", edid), 1u);
  EXPECT_EQ(edid[0], static_cast<std::uint8_t>((3 * 16) | ('A' - 87)));
  // The scan starts after the first "DATA "; the character after a high
  // digit is its low digit whatever it is ('D' - 87, then CR - 87).
  edid.fill(0);
  EXPECT_EQ(ParseEdidReply("EDID DATA 1DATA 2\r\n", edid), 2u);
  EXPECT_EQ(edid[0], static_cast<std::uint8_t>((1 * 16) | ('D' - 87)));
  EXPECT_EQ(edid[1], static_cast<std::uint8_t>((2 * 16) | ('\r' - 87)));
  // Digits run together: pairs are taken as they come.
  EXPECT_EQ(ParseEdidReply("EDID DATA 0a1b2c\n", edid), 3u);
  EXPECT_EQ(edid[2], 0x2C);
}

TEST(ReadBackReply, OnlyTheFirst2000CharactersAreSearched) {
  std::array<std::uint8_t, 256> edid{};
  // Pairs at 1994, 1997 and 2000: the last lies beyond the search.
  std::string line = "EDID DATA " + std::string(1984, ' ') + "11 22 33\r\n";
  edid.fill(0x77);
  EXPECT_EQ(ParseEdidReply(line, edid), 2u);
  EXPECT_EQ(edid[1], 0x22);
  EXPECT_EQ(edid[2], 0x77);
  // A high digit at the very end of a line that has no LF has no partner.
  EXPECT_EQ(ParseEdidReply("EDID DATA 1", edid), 0u);
}

}  // namespace
}  // namespace vantorq::protocol
