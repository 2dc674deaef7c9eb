// The decoded model against the field's reference decoder: on every real
// EDID, each JSON key equals what edid-decode reports for the same bytes
// (edid-decode itself is run); and handcrafted blocks at their edges.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "EdidBuilder.h"
#include "EdidDecodeReference.h"
#include "EdidDetail.h"
#include "EdidJson.h"
#include "EdidModel.h"

namespace vantorq::edid {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(EdidModel, EveryKeyAgreesWithEdidDecodeOnEveryRealEdid) {
  ASSERT_EQ(std::system("command -v edid-decode >/dev/null"), 0) << "edid-decode is not installed (scripts/deps installs it)";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(VANTORQ_EDID_CORPUS)) {
    if (entry.path().extension() == ".bin") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 200u);
  std::map<std::string, int> agreed;
  for (const fs::path& file : files) {
    const EdidModel model = DecodeModel(ReadBytes(file));
    const Reference reference = Parse(Output("edid-decode -s '" + file.string() + "' 2>/dev/null"));
    for (const auto& [key, same] : Agreement(model, reference)) {
      agreed[key] += same ? 1 : 0;
      EXPECT_TRUE(same) << file.filename() << ": " << key;
    }
  }
  for (const auto& [key, count] : agreed) std::printf("agreement %-14s %d of %zu\n", key.c_str(), count, files.size());
}

// EDIDs the corpus does not hold: FRL rates and the SCDB form, every audio
// format, an empty 4:2:0 map, an interlaced timing, a model year.
TEST(EdidModel, RareBlocksAgreeWithEdidDecodeToo) {
  const auto withChecksums = [](test::EdidBuilder b) {
    b.At(0, {0, 255, 255, 255, 255, 255, 255, 0}).At(8, {0x04, 0x72}).At(18, {1, 4, 0xA5});
    for (std::size_t block : {0u, 1u}) {
      int sum = 0;
      for (std::size_t i = 0; i < 127; ++i) sum += b.bytes[block * 128 + i];
      b.bytes[block * 128 + 127] = static_cast<std::uint8_t>(-sum);
    }
    return b;
  };
  std::vector<int> sads;
  for (int code = 1; code <= 14; ++code) sads.insert(sads.end(), {code << 3 | 5, 0x7F, code == 1 ? 0x07 : 0x30});
  const auto blocks = [](std::vector<int> collection) {
    test::EdidBuilder b;
    b.Cea(4 + static_cast<int>(collection.size()));
    for (std::size_t i = 0; i < collection.size(); ++i) b.bytes[132 + i] = static_cast<std::uint8_t>(collection[i]);
    return b;
  };
  const std::vector<test::EdidBuilder> edids{
      blocks({0x43, 16, 97, 96, 0xE1, 15, 0x6C, 0xD8, 0x5D, 0xC4, 1, 120, 0x88, 0x63, 0x02, 0, 0, 0x80, 0x40,
              0xE7, 0x79, 0, 0, 1, 100, 0x80, 0x13}),
      blocks([&] {
        std::vector<int> c{0x20 | 30};
        c.insert(c.end(), sads.begin(), sads.begin() + 30);
        c.push_back(0x20 | 12);
        c.insert(c.end(), sads.begin() + 30, sads.end());
        return c;
      }()),
      blocks({0x42, 97, 96, 0xE3, 14, 97, 101, 0xE4, 6, 0x0F, 0x01, 120, 0x10}).Timing(54, 7425, 1920, 280, 540, 22, true).At(16, {0xFF, 30}),
      blocks({0x41, 16, 0xE7, 0x79, 0, 0, 1, 100, 0x80, 0x33}),
  };
  const fs::path dir = fs::temp_directory_path() / ("vantorq-rare-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (std::size_t i = 0; i < edids.size(); ++i) {
    SCOPED_TRACE(i);
    const test::EdidBuilder edid = withChecksums(edids[i]);
    const fs::path file = dir / (std::to_string(i) + ".bin");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(edid.bytes.data()), 256);
    const Reference reference = Parse(Output("edid-decode -s '" + file.string() + "' 2>/dev/null"));
    for (const auto& [key, same] : Agreement(DecodeModel(edid.bytes), reference)) EXPECT_TRUE(same) << key;
  }
  fs::remove_all(dir);
}

EdidModel Decoded(const test::EdidBuilder& b) { return DecodeModel(b.bytes); }

TEST(EdidModel, EachBlockAtItsEdges) {
  using test::EdidBuilder;
  // A CTA block whose collection is `blocks`, its timings (none) after them.
  auto cta = [](std::initializer_list<int> blocks) {
    EdidBuilder b;
    b.Cea(4 + static_cast<int>(blocks.size())).At(132, blocks);
    return b;
  };
  const struct {
    const char* name;
    EdidBuilder edid;
    std::function<void(const EdidModel&)> expect;
  } cases[] = {
      {"a 4:2:0 map longer than the VIC list", cta({0x43, 16, 97, 96, 0xE4, 15, 0xFF, 0xFF, 0xFF}),
       [](const EdidModel& m) { EXPECT_EQ(m.ycbcr420Also, (std::vector<int>{16, 97, 96})); }},
      {"an empty 4:2:0 map", cta({0x42, 97, 96, 0xE1, 15}),
       [](const EdidModel& m) { EXPECT_EQ(m.ycbcr420Also, (std::vector<int>{97, 96})); }},
      {"a zero-length HDR block", cta({0xE1, 6}),
       [](const EdidModel& m) {
         ASSERT_TRUE(m.hdr.has_value());
         EXPECT_TRUE(m.hdr->eotf.empty());
         EXPECT_FALSE(m.hdr->maxLuminance.has_value());
       }},
      {"a second HDMI Forum block", cta({0x66, 0xD8, 0x5D, 0xC4, 1, 120, 0x80, 0x66, 0xD8, 0x5D, 0xC4, 1, 60, 0x00}),
       [](const EdidModel& m) {
         ASSERT_TRUE(m.hdmiForum.has_value());
         EXPECT_EQ(m.hdmiForum->maxTmdsMhz, 600) << "the first one counts";
         EXPECT_EQ(m.dataBlocks.size(), 2u) << "the second is listed";
       }},
      {"a block that runs past the extension", EdidBuilder().Cea(127).At(250, {0x7F, 0x03, 0x0C, 0x00, 0x10}),
       [](const EdidModel& m) {
         ASSERT_FALSE(m.dataBlocks.empty());
         EXPECT_TRUE(m.dataBlocks.back().cut);
         ASSERT_TRUE(m.hdmi.has_value());
         EXPECT_EQ(m.hdmi->physicalAddress, "") << "its address lies past the end: not invented";
       }},
      {"an unknown block", cta({0xC2, 0x12, 0x34}),
       [](const EdidModel& m) {
         ASSERT_EQ(m.dataBlocks.size(), 1u);
         EXPECT_EQ(m.dataBlocks[0].name, "Unknown (tag 6)");
         EXPECT_EQ(m.dataBlocks[0].length, 2);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.expect(Decoded(c.edid));
  }
}

TEST(EdidModel, ExtensionsPastTheSecondAreDecoded) {
  for (const std::size_t size : {384u, 512u}) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> bytes(size, 0);
    std::copy(kEdidHeader.begin(), kEdidHeader.end(), bytes.begin());
    bytes[126] = static_cast<std::uint8_t>(size / 128 - 1);
    for (std::size_t block = 1; block < size / 128; ++block) {
      const std::size_t o = block * 128;
      // Each a CTA block with one video data block of one VIC, its own.
      const std::uint8_t b[] = {0x02, 0x03, 6, 0, 0x41, static_cast<std::uint8_t>(block)};
      std::copy(std::begin(b), std::end(b), bytes.begin() + static_cast<long>(o));
    }
    const EdidModel m = DecodeModel(bytes);
    EXPECT_EQ(m.blocks, static_cast<int>(size / 128));
    ASSERT_EQ(m.video.size(), size / 128 - 1);
    EXPECT_EQ(m.video.back().vic, static_cast<int>(size / 128 - 1));
    EXPECT_NE(DetailReport(bytes).find("Block " + std::to_string(size / 128 - 1) + ", CTA-861 extension:"),
              std::string::npos);
  }
}

TEST(EdidModel, TheJsonHasEveryKeyInItsOrderAndNullsForWhatIsAbsent) {
  test::EdidBuilder b;
  b.At(0, {0, 255, 255, 255, 255, 255, 255, 0});
  const std::string json = ModelJson(DecodeModel(b.bytes), "a\"b\n.bin");
  const char* keys[] = {"file",   "size",          "blocks",        "vendor", "product",  "serial", "name",
                        "year",   "week",          "preferred",     "detailed", "video",  "ycbcr420_only",
                        "ycbcr420_also", "audio",  "speakers",      "hdmi",   "hdmi_forum", "hdr", "colorimetry",
                        "checks"};
  std::size_t at = 0;
  for (const char* key : keys) {
    const auto found = json.find("\n  \"" + std::string(key) + "\":", at);
    ASSERT_NE(found, std::string::npos) << key;
    at = found;
  }
  EXPECT_NE(json.find("\"file\": \"a\\\"b\\n.bin\""), std::string::npos) << json;
  for (const char* absent : {"\"name\": null", "\"preferred\": null", "\"hdmi\": null", "\"hdr\": null",
                             "\"video\": []", "\"speakers\": []"}) {
    EXPECT_NE(json.find(absent), std::string::npos) << absent;
  }
}

}  // namespace
}  // namespace vantorq::edid
