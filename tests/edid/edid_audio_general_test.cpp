// The audio and general sections.

#include <gtest/gtest.h>

#include <array>

#include "EdidBuilder.h"

namespace vantorq::test {
namespace {

constexpr const char* kLpcm2 =
    "Audio Format:LPCM.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n"
    "192KHz\r\n176KHz\r\n96KHz\r\n88KHz\r\n48KHz\r\n44.1KHz\r\n32KHz\r\n\r\n"
    "Sample Bit:\r\n24Bit \r\n20Bit \r\n16Bit \r\n\r\n\r\n";

TEST(EdidAudio, DescriptorsOfTheFirstAudioBlock) {
  const struct {
    std::initializer_list<int> blocks;
    std::string audio;
  } cases[] = {
      {{0x23, 0x09, 0x7F, 0x07}, std::string(kLpcm2) + "\r\n"},
      {{0x21, 0x09}, "\r\n"},  // length 1: no descriptor
      {{0x20}, "\r\n"},
      // Length 2: the descriptor's third byte lies beyond the block (the
      // next header, 0x42, gives sample size bit 1).
      {{0x22, 0x51, 0x06, 0x42, 0, 0},
       "Audio Format:Dolby D+.\r\nAudio Channel(s):2\r\nSample Frequency:\r\n48KHz\r\n44.1KHz\r\n\r\n"
       "Sample Bit:\r\n20Bit \r\n\r\n\r\n\r\n"},
      // No sample-size bits: no "Sample Bit" part, whatever the format.
      {{0x23, 0x15, 0x81, 0x50},
       "Audio Format:AC-3.\r\nAudio Channel(s):6\r\nSample Frequency:\r\n32KHz\r\n\r\n\r\n\r\n"},
      // A video block first, then two audio blocks: only the first is read.
      {{0x41, 0x10, 0x23, 0x09, 0x7F, 0x07, 0x23, 0x7F, 0x7F, 0x07}, std::string(kLpcm2) + "\r\n"},
  };
  for (const auto& c : cases) {
    EdidBuilder e;
    e.Cea(4 + static_cast<int>(c.blocks.size()));
    e.At(132, c.blocks);
    EXPECT_EQ(e.Audio(), c.audio);
  }
  EdidBuilder two;
  two.Cea(11).At(132, {0x26, 0x09, 0x07, 0x01, 0x7F, 0x01, 0x00});
  const std::string a = two.Audio();
  EXPECT_TRUE(HasLine(a, "Audio Channel(s):2"));
  EXPECT_TRUE(HasLine(a, "Audio Format:Reserved."));
  EXPECT_TRUE(HasLine(a, "Audio Channel(s):8"));
}

TEST(EdidAudio, EveryFormatCodeHasTheFormsName) {
  // The Part's table, copied here on its own: the decoder's is not consulted.
  const std::array<const char*, 16> names{
      "Refer to Stream Header.", "LPCM.", "AC-3.", "MPEG1.", "MP3(Layer3).", "MPEG2.", "AAC.", "DTS.",
      "ATRAC.", "OneBitAudio.", "Dolby D+.", "DTS-HD.", "MAT(MLP).", "DST.", "WMA Pro.", "Reserved."};
  // Eight descriptors a block (24 bytes): two EDIDs carry all sixteen codes.
  for (int first = 0; first < 16; first += 8) {
    EdidBuilder e;
    e.Cea(4 + 25).At(132, {0x38});
    std::string expected;
    for (int i = 0; i < 8; ++i) {
      const int code = first + i;
      e.At(133 + 3 * static_cast<std::size_t>(i), {code << 3, 0x01, 0x00});
      expected += std::string("Audio Format:") + names[static_cast<std::size_t>(code)] +
                  "\r\nAudio Channel(s):1\r\nSample Frequency:\r\n32KHz\r\n\r\n\r\n";
    }
    EXPECT_EQ(e.Audio(), expected + "\r\n") << first;
  }
}

TEST(EdidGeneral, VendorIdentityAndSignal) {
  EdidBuilder e;
  e.At(8, {0x04, 0x43, 0x9C, 0x01}).At(20, {0x80});
  EXPECT_EQ(e.General(),
            "\r\nManufacture's Name:ABC\r\nProduct Code:412\r\n"
            "Video Signal Interface:Digtal\r\nColor Bit Depth:Reserved\r\n\r\n");
  e.At(8, {0x84, 0x43, 0xFF, 0xFF}).At(20, {0x7F});
  const std::string g = e.General();
  EXPECT_TRUE(HasLine(g, "Manufacture's Name:aBC")) << "bit 7 of byte 8 is part of the first letter";
  EXPECT_TRUE(HasLine(g, "Product Code:65535"));
  EXPECT_TRUE(HasLine(g, "Video Signal Interface:Analog"));
}

TEST(EdidGeneral, ProductNameIsFoundAtAnyOffsetAndPaddedTo13) {
  EdidBuilder e;
  e.At(57, {0, 0, 0, 0xFC, 0, 'A', 'B', 'C', 0x0A});  // not at a descriptor start
  EXPECT_TRUE(HasLine(e.General(), "Display Product Name:ABC          "));

  EdidBuilder longName;
  longName.At(90, {0, 0, 0, 0xFC, 0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O'});
  EXPECT_TRUE(HasLine(longName.General(), "Display Product Name:ABCDEFGHIJKLM"));

  EdidBuilder two;  // a second, shorter name is written over the first
  two.At(72, {0, 0, 0, 0xFC, 0, 'L', 'O', 'N', 'G', 'N', 'A', 'M', 'E', 0x0A});
  two.At(90, {0, 0, 0, 0xFC, 0, 'x', 'y', 0x0A});
  EXPECT_TRUE(HasLine(two.General(), "Display Product Name:xyNGNAME     "));

  EdidBuilder zero;
  zero.At(108, {0, 0, 0, 0xFC, 0, 'A', 'B', 0, 'C', 0x0A});
  EXPECT_TRUE(HasLine(zero.General(), "Display Product Name:AB"));

  EXPECT_EQ(EdidBuilder().General().find("Display Product Name"), std::string::npos);
}

TEST(EdidGeneral, DisplayDescriptorsAreFoundAtEveryOffsetFrom54To108) {
  for (std::size_t at = 50; at <= 112; ++at) {
    EdidBuilder name;
    name.At(at, {0, 0, 0, 0xFC, 0, 'Q', 0x0A});
    EdidBuilder range;
    range.At(at, {0, 0, 0, 0xFD, 0, 1, 2, 3, 4, 5});
    const bool inside = at >= 54 && at <= 108;
    EXPECT_EQ(HasLine(name.General(), "Display Product Name:Q            "), inside) << at;
    EXPECT_EQ(HasLine(range.General(), "Maximum Pixel Clock:50MHz"), inside) << at;
  }
}

TEST(EdidGeneral, EveryRangeLimitsDescriptorGivesThreeLines) {
  EdidBuilder e;
  e.At(72, {0, 0, 0, 0xFD, 0x0F, 30, 144, 15, 160, 60});
  e.At(97, {0, 0, 0, 0xFD, 0, 24, 75, 30, 83, 17});
  const std::string g = e.General();
  EXPECT_NE(g.find("Vertical Rate:30Hz--144Hz\r\nHorizontal Rate:15KHz--160KHz\r\nMaximum Pixel Clock:600MHz\r\n"
                   "Vertical Rate:24Hz--75Hz\r\nHorizontal Rate:30KHz--83KHz\r\nMaximum Pixel Clock:170MHz\r\n"),
            std::string::npos)
      << g;
}

TEST(EdidGeneral, ExtensionCapabilitiesOnlyWithACeaExtension) {
  EdidBuilder base;
  base.At(131, {0x70});
  EXPECT_EQ(base.General().find("Extension Device Support"), std::string::npos);
  EXPECT_EQ(base.General().find("3D video"), std::string::npos);
  EXPECT_EQ(base.General().find("Native Timings"), std::string::npos);

  EdidBuilder e;
  e.Cea(9, 0xF5).At(132, {0x44, 0x90, 0x04, 0x83, 0x10});
  EXPECT_EQ(e.General(),
            "\r\nManufacture's Name:@@@\r\nProduct Code:0\r\nVideo Signal Interface:Analog\r\n"
            "Color Bit Depth:Reserved\r\n"
            "Extension Device Support:\r\nBase Audio\r\nYCbCr4:4:4\r\nYCbCr4:2:2\r\n\r\n"
            "Native Timings:2\r\n"
            "YCbCr444 DeepColor:not support\r\n"
            "3D video:not support\r\n\r\n"
            "\r\n");
  EdidBuilder some;
  some.Cea(4, 0x20);
  EXPECT_TRUE(HasLine(some.General(), "Extension Device Support:"));
  EXPECT_EQ(some.General().find("Base Audio"), std::string::npos);
  EXPECT_TRUE(HasLine(some.General(), "Native Timings:0"));
}

TEST(EdidGeneral, HdmiVendorBlockVariants) {
  const struct {
    std::initializer_list<int> vsdb;  // header and payload
    const char* expected;
  } cases[] = {
      // Length 12: HDMI video present, 3D, two 4Kx2K codes (1 and 3).
      {{0x6C, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x3C, 0x20, 0x80, 0x40, 0x01, 0x03},
       "YCbCr444 DeepColor:not support\r\n3D video:support\r\n\r\nExtended Resolution(4Kx2K):\r\n"
       "4Kx2K@30Hz\r\n4Kx2K@24Hz\r\n"},
      // No HDMI video: no 3D, no list.
      {{0x6C, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x3C, 0x00, 0x80, 0x40, 0x01, 0x03},
       "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
      // Latency fields move the 3D byte to 11; both latencies to 13.
      {{0x6D, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x78, 0x3C, 0xA0, 0x0A, 0x0A, 0x80, 0x20, 0x04},
       "Deep Color:\r\n48Bit 36Bit 30Bit \r\nYCbCr444 DeepColor:support\r\n3D video:support\r\n\r\n"
       "Extended Resolution(4Kx2K):\r\n4Kx2K@24Hz(SMPTE)\r\n"},
      {{0x71, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x30, 0x3C, 0xE0, 1, 2, 3, 4, 0x00, 0x60, 0x02, 0x09, 0x01},
       "Deep Color:\r\n36Bit 30Bit \r\nYCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"
       "Extended Resolution(4Kx2K):\r\n4Kx2K@25Hz\r\n4Kx2K@30Hz\r\n"},
      // Too short for deep colour (L 5) and for 3D (L 7).
      {{0x65, 0x03, 0x0C, 0x00, 0x10, 0x00}, "YCbCr444 DeepColor:not support\r\n3D video:not support\r\n\r\n"},
      {{0x67, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x08, 0x3C},
       "YCbCr444 DeepColor:support\r\n3D video:not support\r\n\r\n"},
  };
  for (const auto& c : cases) {
    EdidBuilder e;
    e.Cea(4 + static_cast<int>(c.vsdb.size()));
    e.At(132, c.vsdb);
    const std::string g = e.General();
    EXPECT_NE(g.find(std::string("Native Timings:0\r\n") + c.expected + "\r\n"), std::string::npos) << g;
  }
}

TEST(EdidGeneral, OnlyTheFirstExtendedTagBlockIsReadFor420) {
  const struct {
    std::initializer_list<int> blocks;
    const char* expected;  // what follows "3D video:not support\r\n\r\n"
  } cases[] = {
      {{0xE2, 0x00, 0x40, 0xE2, 0x0F, 0x01}, "\r\n"},  // video capability first: nothing
      {{0xE1, 0x0F}, "\r\nY420CMDB Descripter :\r\nAll SVDs do support YUV420\r\n\r\n"},
      {{0xE1, 0x2F}, "\r\nY420CMDB Descripter :\r\nAll SVDs do support YUV420\r\n\r\n"},  // 47 & 0x1F
      {{0xE3, 0x0E, 0x6B, 0xE1}, "\r\nY420VDB Descripter :\r\n3840x2160p@60Hz  64:27\r\n3840x2160p@60Hz  16:9\r\n\r\n"},
      {{0xE0}, "\r\n"},
      {{0xE2, 0x06, 0x01}, "\r\n"},
  };
  for (const auto& c : cases) {
    EdidBuilder e;
    e.Cea(4 + static_cast<int>(c.blocks.size()));
    e.At(132, c.blocks);
    const std::string g = e.General();
    EXPECT_NE(g.find(std::string("3D video:not support\r\n\r\n") + c.expected), std::string::npos) << g;
    EXPECT_EQ(g.substr(g.size() - std::string(c.expected).size()), c.expected) << g;
  }
  // The map's bits name the first block's codes, whatever that block's length.
  EdidBuilder map;
  map.Cea(12).At(132, {0x43, 0x10, 0x61, 0x04, 0xE3, 0x0F, 0x06, 0x01}).At(141, {0x10});
  const std::string g = map.General();
  EXPECT_NE(g.find("\r\nY420CMDB Descripter :\r\n3840x2160p@60Hz  16:9\r\n1280x720p@60Hz  16:9\r\n"
                   "1920x1080p@60Hz  16:9\r\n\r\n"),
            std::string::npos)
      << g;
}

TEST(EdidReportApi, SectionsOnlyAppendAndUnknownSectionsAddNothing) {
  EdidBuilder e;
  e.Cea(4);
  EdidReport report;
  report.DecodeSection(e.bytes, kVideoSection);
  report.DecodeSection(e.bytes, kVideoSection);
  EXPECT_EQ(report.m_strVideo, e.Video() + e.Video());
  for (int section : {3, -1, 100}) report.DecodeSection(e.bytes, section);
  EXPECT_TRUE(report.m_strAudio.empty());
  EXPECT_TRUE(report.m_strGeneral.empty());
  EXPECT_EQ(report.m_strVideo, e.Video() + e.Video());
}

}  // namespace
}  // namespace vantorq::test
