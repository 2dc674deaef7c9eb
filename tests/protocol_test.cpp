#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "Commands.h"
#include "StatusLine.h"

namespace vantorq::protocol {
namespace {

template <std::size_t N>
std::string Text(const CommandBytes<N>& bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(Commands, EveryCommandHasItsExactBytes) {
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {Text(ProbeCommand()), "\r\nGET STA\r\n"},
      {Text(EnhancementCommand(0)), "\r\nSET OUT1 IMAGE ENH 0\r\n"},
      {Text(EnhancementCommand(2)), "\r\nSET OUT1 IMAGE ENH 2\r\n"},
      {Text(ScalerCommand(0)), "\r\nSET OUT1 VIDEO1\r\n"},
      {Text(ScalerCommand(3)), "\r\nSET OUT1 VIDEO4\r\n"},
      {Text(PresetCommand(0)), "\r\nSET IN1 EDID 00\r\n"},
      {Text(PresetCommand(7)), "\r\nSET IN1 EDID 07\r\n"},
      {Text(PresetCommand(15)), "\r\nSET IN1 EDID 15\r\n"},
      {Text(InputEdidReadCommand(1)), "\r\nGET IN1 EDID 01 DATA\r\n"},
      {Text(InputEdidReadCommand(14)), "\r\nGET IN1 EDID 14 DATA\r\n"},
      {Text(OutputEdidReadCommand()), "\r\nGET OUT1 EDID  DATA\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.bytes, c.expected);
  EXPECT_EQ(ProbeCommand().size(), 11u);
  EXPECT_EQ(EnhancementCommand(1).size(), 24u);
  EXPECT_EQ(ScalerCommand(1).size(), 19u);
  EXPECT_EQ(PresetCommand(1).size(), 19u);
  EXPECT_EQ(InputEdidReadCommand(1).size(), 24u);
  EXPECT_EQ(OutputEdidReadCommand().size(), 23u);
}

TEST(Commands, TheUserEdidWriteIsUpperCaseHexPairsWithoutALeadingLineEnd) {
  std::array<std::uint8_t, 256> edid{};
  std::iota(edid.begin(), edid.end(), 0);
  const std::string text = Text(UserEdidWriteCommand(edid));
  ASSERT_EQ(text.size(), 790u);
  EXPECT_EQ(text.substr(0, 27), "SET IN1 EDID U1 DATA 00 01 ");
  EXPECT_EQ(text.substr(21 + 10 * 3, 6), "0A 0B ");
  EXPECT_EQ(text.substr(text.size() - 7), "FE FF\r\n");
  EXPECT_EQ(text.find(' ', 21 + 255 * 3), std::string::npos) << "no blank after the last pair";
  for (std::size_t i = 0; i < 256; ++i) {
    const std::string pair = text.substr(21 + i * 3, 2);
    EXPECT_EQ(std::stoi(pair, nullptr, 16), static_cast<int>(i));
    EXPECT_EQ(pair.find_first_of("abcdef"), std::string::npos);
  }
}

TEST(StatusLine, OneTagPerLineInTheOrderEdidVideoImageEnh) {
  using K = StatusKind;
  const struct {
    const char* line;
    K kind;
    int value;
  } cases[] = {
      {"xEDID 7\r\n", K::Edid, 7},
      {"xEDID 12\r\n", K::Edid, 12},
      {"IN1 EDID 07\r\n", K::Edid, 7},
      {"xEDID 7\n", K::Edid, 7},  // a device that ends its lines with LF alone
      {"EDID 7\r\n", K::None, 0},  // the tag at the start does not count
      {"EDID 7 VIDEO 2\r\n", K::Scaler, 2},
      {"EDID 3 IMAGE ENH 1\r\n", K::Enhancement, 1},
      {"VIDEO 2\n", K::Scaler, 2},
      {"OUT1 VIDEO 4\r\n", K::Scaler, 4},
      {"IMAGE ENH 3\n", K::Enhancement, 3},
      {"OUT1 IMAGE ENH 0\r\n", K::Enhancement, 0},
      {"IN1 EDID 05 OUT1 VIDEO 3\r\n", K::Edid, 5},  // EDID wins
      {"VIDEO 1 IMAGE ENH 2\r\n", K::Scaler, 1},     // VIDEO before IMAGE ENH
      // Digits are '0' to '9', both ends included; the values the pages
      // take out of range (VIDEO 0, IMAGE ENH 9) still reach them.
      {"xEDID 09\r\n", K::Edid, 9},
      {"xEDID 90\r\n", K::Edid, 90},
      {"VIDEO 0\r\n", K::Scaler, 0},
      {"VIDEO 9\r\n", K::Scaler, 9},
      {"IMAGE ENH 9\r\n", K::Enhancement, 9},
      // Anything else where a digit belongs: noise, acted on by nobody.
      {"xEDID A\r\n", K::None, 0},
      {"xEDID /5\r\n", K::None, 0},
      {"xEDID 5:\r\n", K::None, 0},
      {"xEDID 7X\r\n", K::None, 0},
      {"xEDID 7 \r\n", K::None, 0},
      {"VIDEO \n", K::None, 0},
      {"VIDEO :\r\n", K::None, 0},
      {"IMAGE ENH /\r\n", K::None, 0},
      {"VIDEO:2\r\n", K::None, 0},
      {"video 2\r\n", K::None, 0},
      {"\r\n", K::None, 0},
      {"xEDID \n", K::None, 0},
      {"VIDEO 1 xEDID \n", K::None, 0},  // the EDID tag is the line's, and it carries no value
  };
  for (const auto& c : cases) {
    const StatusUpdate u = ParseStatusLine(c.line);
    EXPECT_EQ(u.kind, c.kind) << c.line;
    if (u.kind == c.kind && c.kind != K::None) {
      EXPECT_EQ(u.value, c.value) << c.line;
    }
  }
}

TEST(StatusLine, TagsAreOnlyReportedWhereTheyStandAndInPrecedence) {
  // Every line of a few pieces, tag fragments among them, with and without
  // the final LF; under the sanitizer build an out-of-range read shows here.
  const std::string pieces[] = {"EDID ", "VIDEO ", "IMAGE ENH ", "7", "\r", "x", ""};
  for (const auto& a : pieces) {
    for (const auto& b : pieces) {
      for (const auto& c : pieces) {
        for (const std::string& line : {a + b + c + "\n", a + b + c}) {
          const StatusUpdate u = ParseStatusLine(line);
          // A tag counts where it stands; the first that stands wins, and
          // it acts only on a digit.
          auto digitAt = [&](std::size_t at) { return at < line.size() && line[at] == '7'; };
          const auto edid = line.find("EDID ");
          const bool edidTag = edid != std::string::npos && edid >= 1;
          const auto video = line.find("VIDEO ");
          const auto enh = line.find("IMAGE ENH ");
          StatusKind expected = StatusKind::None;
          if (edidTag) {
            if (digitAt(edid + 5) && edid + 6 < line.size() && (line[edid + 6] == '\r' || line[edid + 6] == '\n')) {
              expected = StatusKind::Edid;
            }
          } else if (video != std::string::npos) {
            if (digitAt(video + 6)) expected = StatusKind::Scaler;
          } else if (enh != std::string::npos && digitAt(enh + 10)) {
            expected = StatusKind::Enhancement;
          }
          EXPECT_EQ(u.kind, expected) << line;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vantorq::protocol
