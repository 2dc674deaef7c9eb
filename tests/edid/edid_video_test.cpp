// The video section: timings, their skip rules and the short video codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "EdidBuilder.h"
#include "EdidTables.h"

namespace vantorq::test {
namespace {

TEST(EdidVideo, PreferredTimingVariants) {
  const struct {
    int clock, h, hb, v, vb;
    bool interlaced;
    const char* line;
  } cases[] = {
      {14850, 1920, 280, 1080, 45, false, "Preferred Timing:1920x1080@60Hz\r\n"},
      {7425, 1920, 280, 540, 22, true, "Preferred Timing:1920x1080i@60Hz \r\n"},
      {14835, 1920, 280, 1080, 45, false, "Preferred Timing:1920x1080@60Hz\r\n"},
      {59400, 3840, 560, 2160, 90, false, "Preferred Timing:3840x2160@60Hz\r\n"},
      {2517, 640, 160, 480, 45, false, "Preferred Timing:640x480@60Hz\r\n"},
      {0, 0, 0, 0, 0, false, "Preferred Timing:0x0@0Hz\r\n"},
      {14850, 0, 0, 1080, 45, false, "Preferred Timing:0x1080@0Hz\r\n"},  // zero total: R is 0
      {65535, 4095, 4095, 4095, 4095, false, "Preferred Timing:4095x4095@10Hz\r\n"},
  };
  for (const auto& c : cases) {
    EdidBuilder e;
    e.Timing(54, c.clock, c.h, c.hb, c.v, c.vb, c.interlaced);
    EXPECT_EQ(e.Video(), std::string(c.line) + "\r\n") << c.line;
  }
}

TEST(EdidVideo, BaseDescriptorsNeedBothClockBytesNonZero) {
  EdidBuilder e;
  e.Timing(54, 14850, 1920, 280, 1080, 45);
  e.Timing(72, 0x0A00, 1280, 370, 720, 30);  // low byte zero: skipped
  e.Timing(90, 0x000A, 1280, 370, 720, 30);  // high byte zero: skipped
  e.At(108, {0, 0, 0, 0xFC, 0, 'A', 'B'});   // a display descriptor
  EXPECT_EQ(e.Video(), "Preferred Timing:1920x1080@60Hz\r\n\r\n");
  e.Timing(90, 7425, 1280, 370, 720, 30);
  e.Timing(108, 7425, 1920, 280, 540, 22, true);
  EXPECT_EQ(e.Video(),
            "Preferred Timing:1920x1080@60Hz\r\n"
            "Detailed Timing:1280x720@60Hz\r\n"
            "Detailed Timing:1920x1080i@60Hz\r\n"  // no space before CR LF here
            "\r\n");
}

TEST(EdidVideo, WithoutACeaExtensionOnlyTheBaseBlockIsDecoded) {
  for (auto [count, tag] : {std::pair{0, 0x02}, std::pair{1, 0x70}, std::pair{0, 0x00}}) {
    EdidBuilder e;
    e.Timing(54, 14850, 1920, 280, 1080, 45);
    e.At(126, {count}).At(128, {tag, 3, 4, 0x70, 0x42, 0x90, 0x04});
    e.Timing(132 + 3, 7425, 1280, 370, 720, 30);
    EXPECT_EQ(e.Video(), "Preferred Timing:1920x1080@60Hz\r\n\r\n");
    EXPECT_EQ(e.Audio(), "\r\n");
  }
}

TEST(EdidVideo, ExtensionSlotsAreCountedFrom144AndNumberedAsDecoded) {
  EdidBuilder e;
  e.Cea(4);
  e.Timing(132, 14850, 1920, 280, 1080, 45);
  e.Timing(150, 0, 1, 1, 1, 1);  // skipped: takes no number
  e.Timing(168, 7425, 1280, 370, 720, 30);
  const std::string v = e.Video();
  EXPECT_TRUE(HasLine(v, "Extension Detailed Timing1:1920x1080@60Hz")) << v;
  EXPECT_TRUE(HasLine(v, "Extension Detailed Timing2:1280x720@60Hz")) << v;
  EXPECT_EQ(v.find("Extension Detailed Timing3"), std::string::npos);

  // d = 4: (144 - 4) / 18 = 7 slots; the seventh starts at byte 240 and
  // would run past the end.
  EdidBuilder seven;
  seven.Cea(4);
  for (int k = 0; k < 6; ++k) seven.Timing(132 + 18 * k, 7425, 1280, 370, 720, 30);
  seven.At(240, {0x01, 0x1D});
  EXPECT_TRUE(HasLine(seven.Video(), "Extension Detailed Timing6:1280x720@60Hz"));
  EXPECT_EQ(seven.Video().find("Extension Detailed Timing7"), std::string::npos)
      << "a slot running past byte 255 is skipped";

  EdidBuilder last;
  last.Cea(109);  // (144 - 109) / 18 = 1 slot, at 237..254: it fits
  last.Timing(237, 7425, 1280, 370, 720, 30);
  EXPECT_TRUE(HasLine(last.Video(), "Extension Detailed Timing1:1280x720@60Hz"));

  for (int d : {127, 128, 200, 255}) {
    EdidBuilder none;
    none.Cea(d);
    none.Timing(132, 7425, 1280, 370, 720, 30);
    EXPECT_EQ(none.Video().find("Extension Detailed"), std::string::npos) << d;
  }
}

TEST(EdidVideo, SmallOffsetsDecodeTheHeaderAsASlot) {
  EdidBuilder e;
  e.Cea(0, 0x70);  // the slot at 128 starts with 02 03: both non-zero
  const std::string v = e.Video();
  EXPECT_NE(v.find("Extension Detailed Timing1:"), std::string::npos) << v;
}

TEST(EdidVideo, ShortVideoCodesFromTheFirstBlockWithTheirNativeFlag) {
  EdidBuilder e;
  e.Cea(12).At(132, {0x47, 0x90, 0x00, 0x80, 0x6C, 0x01, 0xEB, 0x10});  // 7 codes
  EXPECT_EQ(e.Video(),
            "Preferred Timing:0x0@0Hz\r\n"
            "\r\nShort Video Descripter\r\n"
            "1920x1080p@60Hz  16:9  Native\r\n"
            "640x480p@60Hz  4:3\r\n"
            "3840x2160p@60Hz  64:27  Native\r\n"
            "1920x1080p@60Hz  16:9\r\n"
            "\r\n");
  // Whatever the first block's tag is, and whatever d says.
  EdidBuilder audioFirst;
  audioFirst.Cea(2).At(132, {0x23, 0x09, 0x07, 0x07});
  const std::string v = audioFirst.Video();
  EXPECT_TRUE(HasLine(v, "720(1440)x240p@60Hz  16:9")) << v;  // 0x09: VIC 9
  EXPECT_TRUE(HasLine(v, "720(1440)x480i@60Hz  16:9")) << v;  // 0x07: VIC 7
}

TEST(EdidTables, LabelsAreStoredAsTheyStand) {
  EXPECT_EQ(edid::VicLabel(1), "640x480p@60Hz  4:3");
  EXPECT_EQ(edid::VicLabel(107), "3840x2160p@60Hz  64:27");
  EXPECT_EQ(edid::VicLabel(39), "1920x1080i(1250 total)@50Hz  16:9");
  EXPECT_EQ(edid::VicLabel(47), "1280x720@120Hz  16:9");
  EXPECT_EQ(edid::VicLabel(55), "720(1440)x576i@200Hz  16:3");
  for (int vic : {0, 108, 127, -1}) EXPECT_TRUE(edid::VicLabel(vic).empty()) << vic;
  for (int vic = 1; vic <= 107; ++vic) {
    const auto label = edid::VicLabel(vic);
    EXPECT_NE(label.find("Hz  "), std::string_view::npos) << vic;
    EXPECT_EQ(label.find("Hz   "), std::string_view::npos) << vic;
  }
  EXPECT_EQ(edid::AudioFormatTable[10], "Dolby D+.");
  EXPECT_EQ(edid::AudioFormatTable[15], "Reserved.");
  EXPECT_EQ(edid::SampleRateTable[1], "44.1KHz");
  EXPECT_EQ(edid::SampleRateTable[3], "88KHz");
  EXPECT_EQ(edid::SampleRateTable[5], "176KHz");
}


// Every label, read across the form's table, through the decoder's own
// short video descriptor lines (a wrong label anywhere would show).
TEST(EdidTables, EveryVicLabelAsTheFormListsIt) {
  const std::array<const char*, 107> labels{
      "640x480p@60Hz  4:3", "720x480p@60Hz  4:3", "720x480p@60Hz  16:9", "1280x720p@60Hz  16:9",
      "1920x1080i@60Hz  16:9", "720(1440)x480i@60Hz  4:3", "720(1440)x480i@60Hz  16:9", "720(1440)x240p@60Hz  4:3",
      "720(1440)x240p@60Hz  16:9", "2880x480i@60Hz  4:3", "2880x480i@60Hz  16:9", "2880x240p@60Hz  4:3",
      "2880x240p@60Hz  16:9", "1440x480p@60Hz  4:3", "1440x480p@60Hz  16:9", "1920x1080p@60Hz  16:9",
      "720x576p@50Hz  4:3", "720x576p@50Hz  16:9", "1280x720p@50Hz  16:9", "1920x1080i@50Hz  16:9",
      "720(1440)x576i@50Hz  4:3", "720(1440)x576i@50Hz  16:9", "720(1440)x288p@50Hz  4:3", "720(1440)x288p@50Hz  16:9",
      "2880x576i@50Hz  4:3", "2880x576i@50Hz  16:9", "2880x288p@50Hz  4:3", "2880x288p@50Hz  16:9",
      "1440x576p@50Hz  4:3", "1440x576p@50Hz  16:9", "1920x1080p@50Hz  16:9", "1920x1080p@24Hz  16:9",
      "1920x1080p@25Hz  16:9", "1920x1080p@30Hz  16:9", "2880x480p@60Hz  4:3", "2880x480p@60Hz  16:9",
      "2880x576p@50Hz  4:3", "2880x576p@50Hz  16:9", "1920x1080i(1250 total)@50Hz  16:9", "1920x1080i@100Hz  16:9",
      "1280x720p@100Hz  16:9", "720x576p@100Hz  4:3", "720x576p@100Hz  16:9", "720(1440)x576i@100Hz  4:3",
      "720(1440)x576i@100Hz  16:9", "1920x1080i@120Hz  16:9", "1280x720@120Hz  16:9", "720x480p@120Hz  4:3",
      "720x480p@120Hz  16:9", "720(1440)x480i@120Hz  4:3", "720(1440)x480i@120Hz  16:9", "720x576p@200Hz  4:3",
      "720x576p@200Hz  16:9", "720(1440)x576i@200Hz  4:3", "720(1440)x576i@200Hz  16:3", "720x480p@240Hz  4:3",
      "720x480p@240Hz  16:9", "720(1440)x480i@240Hz  4:3", "720(1440)x480i@240Hz  16:9", "1280x720p@24Hz  16:9",
      "1280x720p@25Hz  16:9", "1280x720p@30Hz  16:9", "1920x1080p@120Hz  16:9", "1920x1080p@100Hz  16:9",
      "1280x720p@24Hz  64:27", "1280x720p@25Hz  64:27", "1280x720p@30Hz  64:27", "1280x720p@50Hz  64:27",
      "1280x720p@60Hz  64:27", "1280x720p@100Hz  64:27", "1280x720p@120Hz  64:27", "1920x1080p@24Hz  64:27",
      "1920x1080p@25Hz  64:27", "1920x1080p@30Hz  64:27", "1920x1080p@50Hz  64:27", "1920x1080p@60Hz  64:27",
      "1920x1080p@100Hz  64:27", "1920x1080p@120Hz  64:27", "1680x720p@24Hz  64:27", "1680x720p@25Hz  64:27",
      "1680x720p@30Hz  64:27", "1680x720p@50Hz  64:27", "1680x720p@60Hz  64:27", "1680x720p@100Hz  64:27",
      "1680x720p@120Hz  64:27", "2560x1080p@24Hz  64:27", "2560x1080p@25Hz  64:27", "2560x1080p@30Hz  64:27",
      "2560x1080p@50Hz  64:27", "2560x1080p@60Hz  64:27", "2560x1080p@100Hz  64:27", "2560x1080p@120Hz  64:27",
      "3840x2160p@24Hz  16:9", "3840x2160p@25Hz  16:9", "3840x2160p@30Hz  16:9", "3840x2160p@50Hz  16:9",
      "3840x2160p@60Hz  16:9", "4096x2160p@24Hz  256:135", "4096x2160p@25Hz  256:135", "4096x2160p@30Hz  256:135",
      "4096x2160p@50Hz  256:135", "4096x2160p@60Hz  256:135", "3840x2160p@24Hz  64:27", "3840x2160p@25Hz  64:27",
      "3840x2160p@30Hz  64:27", "3840x2160p@50Hz  64:27", "3840x2160p@60Hz  64:27"};
  // A data block holds 31 codes at most: four EDIDs carry them all.
  for (int first = 1; first <= 107; first += 31) {
    const int count = std::min(31, 108 - first);
    EdidBuilder e;
    e.Cea(4 + count + 1).At(132, {0x40 | count});
    std::string expected;
    for (int i = 0; i < count; ++i) {
      e.bytes[133 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
      expected += std::string(labels[static_cast<std::size_t>(first + i - 1)]) + "\r\n";
    }
    const std::string v = e.Video();
    const auto at = v.find("Short Video Descripter\r\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(v.substr(at + 24), expected + "\r\n") << "VICs " << first << " to " << first + count - 1;
  }
}

// d = 110: (144 - d) div 18 is one slot, (127 - d) div 18 none; the slot
// runs from byte 238 to byte 255 exactly.
TEST(EdidVideo, TheLastExtensionSlotEndingAtByte255IsDecoded) {
  EdidBuilder e;
  e.Cea(110).Timing(238, 14850, 1920, 280, 1080, 45);
  EXPECT_TRUE(HasLine(e.Video(), "Extension Detailed Timing1:1920x1080@60Hz")) << e.Video();
}

}  // namespace
}  // namespace vantorq::test
