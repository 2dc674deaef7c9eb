// The read-back summary, malformed extensions, and the real-EDID corpus.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "EdidBuilder.h"
#include "EdidFile.h"
#include "EdidSummary.h"

namespace vantorq::test {
namespace {

std::string Summary(const EdidBuilder& e) {
  EdidReport report;
  return DecodeAndSummarise(report, e.bytes);
}

TEST(EdidSummary, SevenKeysInOrderEachFromItsKeyToTheLineEnd) {
  EdidBuilder e;
  e.At(8, {0x04, 0x43});
  e.Timing(54, 14850, 1920, 280, 1080, 45);
  e.Timing(72, 7425, 1280, 370, 720, 30);
  e.At(90, {0, 0, 0, 0xFD, 0, 24, 75, 30, 83, 17});
  e.Cea(16).At(132, {0x41, 0x90, 0x23, 0x09, 0x07, 0x07, 0x67, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x3C});
  EXPECT_EQ(Summary(e),
            "Manufacture's Name:ABC\r\n"
            "Maximum Pixel Clock:170MHz\r\n"
            "3D video:not support\r\n"
            "Preferred Timing:1920x1080@60Hz\r\n"
            "Detailed Timing:1280x720@60Hz\r\n"
            "Audio Format:LPCM.\r\n"
            "Audio Channel(s):2\r\n");
}

TEST(EdidSummary, DetailedTimingMayStartInsideAnExtensionTimingLine) {
  EdidBuilder e;
  e.Cea(4);
  e.Timing(132, 7425, 1280, 370, 720, 30);
  const std::string s = Summary(e);
  EXPECT_NE(s.find("Preferred Timing:0x0@0Hz\r\nDetailed Timing1:1280x720@60Hz\r\n"), std::string::npos) << s;
}

TEST(EdidSummary, WithoutAnExtensionThereIsNo3dAndNoAudio) {
  EdidBuilder e;
  e.At(8, {0x04, 0x43});
  const std::string s = Summary(e);
  EXPECT_EQ(s, "Manufacture's Name:ABC\r\nPreferred Timing:0x0@0Hz\r\n");
}

TEST(EdidSummary, AudioChannelOnlyFollowsAnAudioFormat) {
  EdidReport report;
  report.m_strAudio = "Audio Channel(s):2\r\n";
  report.m_strGeneral = "\r\nManufacture's Name:ABC";  // no LF: to the end
  EXPECT_EQ(EdidSummary(report), "Manufacture's Name:ABC");
}

TEST(EdidFile, ShortFilesAreCompletedWithFf) {
  const std::vector<std::uint8_t> small(128, 0x11);
  const auto edid = EdidFromFileBytes(small);
  EXPECT_EQ(edid[127], 0x11);
  EXPECT_EQ(edid[128], 0xFF);
  EXPECT_EQ(edid[255], 0xFF);
  std::vector<std::uint8_t> big(300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
  const auto first = EdidFromFileBytes(big);
  EXPECT_EQ(first[255], 255);
  EXPECT_EQ(EdidFromFileBytes({})[0], 0xFF);
}

TEST(EdidBounds, TheCollectionEndsWhereTheFirstTimingBegins) {
  // An audio block at 4 (one payload byte), then at 6 a byte that reads as
  // a video block header: inside the collection only when d lies past it.
  for (const auto& [d, native] : {std::pair{6, "Native Timings:0"}, std::pair{7, "Native Timings:1"}}) {
    EdidBuilder e;
    e.Cea(d).At(132, {0x21, 0x09, 0x41, 0x90});
    EXPECT_TRUE(HasLine(e.General(), native)) << "d " << d;
  }
}

TEST(EdidBounds, ItemsPastTheEndAreSkipped) {
  // An audio block at the very end of the collection with d = 255: its
  // second descriptor would need bytes 256..258.
  EdidBuilder audio;
  // Filler blocks of tag 6 lead the walk to 252: 132, 164, 196, 228, 252.
  audio.Cea(255).At(132, {0xDF}).At(164, {0xDF}).At(196, {0xDF}).At(228, {0xD7});
  audio.At(252, {0x26, 0x09, 0x07, 0x07});
  const std::string a = audio.Audio();
  EXPECT_TRUE(HasLine(a, "Audio Format:LPCM.")) << a;
  EXPECT_EQ(a.find("Audio Format:", a.find("Audio Format:") + 1), std::string::npos) << a;

  // A vendor block whose 3D byte lies past the end.
  EdidBuilder vsdb;
  vsdb.Cea(255).At(132, {0xDF}).At(164, {0xDF}).At(196, {0xDF}).At(228, {0xD3});
  vsdb.At(248, {0x6A, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x78, 0x3C});  // payload byte 8 is byte 256
  const std::string g = vsdb.General();
  EXPECT_TRUE(HasLine(g, "3D video:not support")) << g;
  EXPECT_TRUE(HasLine(g, "YCbCr444 DeepColor:support")) << g;

  // A 4:2:0 map bit that names byte 133 + 8 * 30 = 373.
  EdidBuilder map;
  map.Cea(127).At(132, {0x5F});
  for (int i = 133; i < 164; ++i) map.bytes[static_cast<std::size_t>(i)] = 0x10;
  map.At(164, {0xFF, 0x0F});
  for (int i = 166; i < 196; ++i) map.bytes[static_cast<std::size_t>(i)] = 0xFF;
  const std::string m = map.General();
  std::size_t lines = 0;
  for (std::size_t at = m.find("1920x1080p@60Hz  16:9"); at != std::string::npos;
       at = m.find("1920x1080p@60Hz  16:9", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 31u) << "only the bits naming bytes 133..163 hold a code";
}

TEST(EdidBounds, RandomBuffersAlwaysGiveWellFormedSections) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 20000; ++round) {
    EdidBuilder e;
    for (auto& b : e.bytes) b = static_cast<std::uint8_t>(random());
    if (round % 2 == 0) e.At(126, {1}).At(128, {0x02});  // make half of them CEA
    EdidReport report;
    const std::string s = DecodeAndSummarise(report, e.bytes);
    ASSERT_EQ(s.rfind("Manufacture's Name:", 0), 0u);
    ASSERT_EQ(report.m_strVideo.rfind("Preferred Timing:", 0), 0u);
    for (const std::string* text : {&report.m_strVideo, &report.m_strAudio, &report.m_strGeneral}) {
      ASSERT_GE(text->size(), 2u);
      ASSERT_EQ(text->substr(text->size() - 2), "\r\n");
      for (std::size_t i = text->find('\n'); i != std::string::npos; i = text->find('\n', i + 1)) {
        ASSERT_TRUE(i > 0 && (*text)[i - 1] == '\r');
      }
    }
  }
}

// The corpus of real EDIDs next to the project.
std::filesystem::path CorpusDir() { return std::filesystem::path(VANTORQ_EDID_CORPUS); }

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(EdidCorpus, EveryRealEdidDecodesAndMatchesItsManifest) {
  std::ifstream manifest(CorpusDir() / "MANIFEST.tsv");
  if (!manifest) GTEST_SKIP() << "no corpus at " << CorpusDir();
  std::string line;
  std::getline(manifest, line);  // column names
  int files = 0;
  while (std::getline(manifest, line)) {
    std::istringstream row(line);
    std::string file, source, classes;
    std::getline(row, file, '\t');
    std::getline(row, source, '\t');
    std::getline(row, classes, '\t');
    SCOPED_TRACE(file + " " + source + " " + classes);
    const auto bytes = ReadFile(CorpusDir() / file);
    ASSERT_EQ(bytes.size(), 256u);
    const auto edid = EdidFromFileBytes(bytes);
    EdidReport report;
    const std::string summary = DecodeAndSummarise(report, edid);
    ++files;

    auto has = [&](std::string_view c) { return ("," + classes + ",").find("," + std::string(c) + ",") != std::string::npos; };
    // The vendor id in the source path (Digital/Acer/ACR0580/...).
    const auto third = source.find('/', source.find('/') + 1) + 1;
    EXPECT_EQ(summary.rfind("Manufacture's Name:" + source.substr(third, 3) + "\r\n", 0), 0u) << summary;
    EXPECT_EQ(report.m_strVideo.find("Short Video Descripter") != std::string::npos, has("cea"));
    EXPECT_EQ(summary.find("3D video:") != std::string::npos, has("cea"));
    if (has("name")) {
      EXPECT_NE(report.m_strGeneral.find("Display Product Name:"), std::string::npos);
    }
    if (has("range")) {
      EXPECT_NE(summary.find("Maximum Pixel Clock:"), std::string::npos);
    }
    if (has("analog")) {
      EXPECT_NE(report.m_strGeneral.find("Video Signal Interface:Analog"), std::string::npos);
    }
    if (has("digital")) {
      EXPECT_NE(report.m_strGeneral.find("Video Signal Interface:Digtal"), std::string::npos);
    }
    if (!has("cea")) {
      EXPECT_EQ(report.m_strAudio, "\r\n");
    }
  }
  EXPECT_EQ(files, 200);
}

TEST(EdidCorpus, GoldenReportsCheckedByHand) {
  const std::filesystem::path golden = VANTORQ_GOLDEN_DIR;
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(golden)) {
    if (entry.path().extension() != ".txt") continue;
    const auto bin = CorpusDir() / (entry.path().stem().string() + ".bin");
    if (!std::filesystem::exists(bin)) GTEST_SKIP() << "no corpus at " << CorpusDir();
    const auto expected = ReadFile(entry.path());
    EdidReport report;
    DecodeAndSummarise(report, EdidFromFileBytes(ReadFile(bin)));
    const std::string all = report.m_strVideo + report.m_strAudio + report.m_strGeneral;
    EXPECT_EQ(all, std::string(expected.begin(), expected.end())) << entry.path();
    ++compared;
  }
  EXPECT_GE(compared, 4);
}

}  // namespace
}  // namespace vantorq::test
