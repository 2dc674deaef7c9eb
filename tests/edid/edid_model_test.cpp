// The decoded model against the field's reference decoder: on every real
// EDID, each JSON key equals what edid-decode reports for the same bytes
// (edid-decode itself is run); and handcrafted blocks at their edges.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include <unistd.h>

#include "EdidBuilder.h"
#include "EdidDetail.h"
#include "EdidJson.h"
#include "EdidModel.h"

namespace vantorq::edid {
namespace {

namespace fs = std::filesystem;

// What edid-decode says of one EDID, in the model's terms.
struct Reference {
  std::string vendor;
  int product = 0;
  std::uint32_t serial = 0;
  std::optional<std::string> name;
  int year = 0;
  std::optional<int> week;
  std::vector<Timing> detailed;
  std::vector<ShortVideo> video;
  std::vector<int> only420;
  std::vector<int> also420;
  bool allAlso420 = false;
  std::vector<ShortAudio> audio;
  std::set<std::string> speakers;
  std::optional<HdmiVsdb> hdmi;
  std::optional<HdmiForum> forum;
  std::optional<HdrStatic> hdr;
  std::set<std::string> colorimetry;
};

std::string Output(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
  return out;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

int AudioCode(const std::string& name, int& extended) {
  static const std::map<std::string, int> kCodes{
      {"Linear PCM", 1}, {"AC-3", 2}, {"MPEG 1 (Layers 1 & 2)", 3}, {"MPEG 1 Layer 3 (MP3)", 4},
      {"MPEG2 (multichannel)", 5}, {"AAC LC", 6}, {"DTS", 7}, {"ATRAC", 8}, {"One Bit Audio", 9},
      {"Enhanced AC-3 (DD+)", 10}, {"DTS-HD", 11}, {"MAT (MLP)", 12}, {"DST", 13}, {"WMA Pro", 14}};
  static const std::map<std::string, int> kExtended{
      {"MPEG-4 HE AAC", 4}, {"MPEG-4 HE AAC v2", 5}, {"MPEG-4 AAC LC", 6}, {"DRA", 7},
      {"MPEG-4 HE AAC + MPEG Surround", 8}, {"MPEG-4 AAC LC + MPEG Surround", 10}, {"MPEG-H 3D Audio", 11},
      {"AC-4", 12}, {"L-PCM 3D Audio", 13}};
  if (const auto it = kCodes.find(name); it != kCodes.end()) return it->second;
  if (const auto it = kExtended.find(name); it != kExtended.end()) {
    extended = it->second;
    return 15;
  }
  return -1;
}

// The largest link rate a "Max Fixed Rate Link" line names, in Gbit/s.
std::optional<int> FrlRate(const std::string& text) {
  std::smatch m;
  if (std::regex_search(text, m, std::regex(R"((\d+) Gbps on 4 lanes)"))) return std::stoi(m[1]) * 4;
  if (std::regex_search(text, m, std::regex(R"((\d+) Gbps per lane on 3 lanes)"))) return std::stoi(m[1]) * 3;
  return std::nullopt;
}

Reference Parse(const std::string& text) {
  Reference r;
  std::istringstream in(text);
  std::string line;
  std::string section;  // the data block being read ("" outside one)
  std::set<std::string> seen;
  static const std::regex kVic(R"(^\s+VIC\s+(\d+):.*?( \(native\))?$)");
  static const std::regex kDtd(R"(^\s+DTD \d+:\s+(\d+)x(\d+)(i?)\s+([\d.]+) Hz.*?\s([\d.]+) MHz)");
  static const std::regex kLuminance(R"(\(([\d.]+) cd/m\^2\))");
  static const std::regex kWeek(R"(^Made in: week (\d+) of (\d+))");
  static const std::regex kYear(R"(^(Made in|Model year): (\d+))");
  static const std::regex kName(R"(^Display Product Name: '(.*)'$)");
  std::smatch m;
  while (std::getline(in, line)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    const std::string s = line.substr(indent);
    if (indent <= 2 && !s.empty() && s.back() == ':') {
      // The first block of a kind counts; video and audio blocks add up.
      const bool adds = s == "Video Data Block:" || s == "Audio Data Block:" ||
                        s.rfind("YCbCr 4:2:0", 0) == 0;
      // The two forms of the HDMI Forum block are one kind.
      const bool forum = s.find("HDMI Forum") != std::string::npos;
      section = !adds && !seen.insert(forum ? "HDMI Forum" : s).second ? "(a further one)" : s;
    }
    if (indent == 0) section.clear();
    auto value = [&](const std::string& key) { return s.rfind(key, 0) == 0 ? s.substr(key.size()) : std::string(); };
    if (auto v = value("Manufacturer: "); !v.empty()) r.vendor = v;
    if (auto v = value("Model: "); !v.empty()) r.product = std::stoi(v);
    if (auto v = value("Serial Number: "); !v.empty()) r.serial = static_cast<std::uint32_t>(std::stoul(v));
    if (std::regex_search(s, m, kWeek)) {
      r.week = std::stoi(m[1]);
      r.year = std::stoi(m[2]);
    } else if (std::regex_search(s, m, kYear)) {
      r.year = std::stoi(m[2]);
    }
    if (!r.name && std::regex_search(s, m, kName)) r.name = m[1];
    if (s.rfind("DTD ", 0) == 0 && std::regex_search(line, m, kDtd)) {
      Timing t{std::stoi(m[1]), std::stoi(m[2]), m[3] == "i", std::stod(m[4]),
               static_cast<int>(std::lround(std::stod(m[5]) * 1000))};
      r.detailed.push_back(t);
    }
    const bool vic = s.rfind("VIC", 0) == 0 && std::regex_search(line, m, kVic);
    if (section == "Video Data Block:" && vic) r.video.push_back({std::stoi(m[1]), m[2].matched});
    if (section == "YCbCr 4:2:0 Video Data Block:" && vic) r.only420.push_back(std::stoi(m[1]));
    if (section == "YCbCr 4:2:0 Capability Map Data Block:") {
      if (vic) r.also420.push_back(std::stoi(m[1]));
      if (s == "All VDB SVDs") r.allAlso420 = true;
    }
    if (section == "Audio Data Block:") {
      if (indent == 4 && s.back() == ':') {
        ShortAudio a;
        a.formatCode = AudioCode(s.substr(0, s.size() - 1), a.extendedCode);
        r.audio.push_back(a);
      } else if (!r.audio.empty()) {
        ShortAudio& a = r.audio.back();
        if (auto v = value("Max channels: "); !v.empty()) a.channels = std::stoi(v);
        std::istringstream list(value("Supported sample rates (kHz): "));
        for (double rate; list >> rate;) a.ratesKhz.push_back(rate);
        std::istringstream bits(value("Supported sample sizes (bits): "));
        for (int bit; bits >> bit;) a.bits.push_back(bit);
      }
    }
    if (section == "Speaker Allocation Data Block:" && indent == 4) r.speakers.insert(Upper(s.substr(0, s.find(" - "))));
    if (section == "Vendor-Specific Data Block (HDMI), OUI 00-0C-03:") {
      if (!r.hdmi) r.hdmi.emplace();
      if (auto v = value("Source physical address: "); !v.empty()) r.hdmi->physicalAddress = v;
      if (auto v = value("Maximum TMDS clock: "); !v.empty()) r.hdmi->maxTmdsMhz = std::stoi(v);
      for (int depth : {30, 36, 48}) {
        if (s == "DC_" + std::to_string(depth) + "bit") r.hdmi->deepColor.push_back(depth);
      }
    }
    if (section == "Vendor-Specific Data Block (HDMI Forum), OUI C4-5D-D8:" ||
        section == "HDMI Forum Sink Capability Data Block:") {
      if (!r.forum) r.forum.emplace();
      if (auto v = value("Maximum TMDS Character Rate: "); !v.empty()) r.forum->maxTmdsMhz = std::stoi(v);
      if (s == "SCDC Present") r.forum->scdc = true;
      if (auto v = value("Max Fixed Rate Link: "); !v.empty()) r.forum->maxFrlGbps = FrlRate(v);
    }
    if (section == "HDR Static Metadata Data Block:") {
      if (!r.hdr) r.hdr.emplace();
      static const std::map<std::string, std::string> kEotf{{"Traditional gamma - SDR luminance range", "SDR"},
                                                            {"Traditional gamma - HDR luminance range", "HDR"},
                                                            {"SMPTE ST2084", "PQ"},
                                                            {"Hybrid Log-Gamma", "HLG"}};
      if (const auto it = kEotf.find(s); it != kEotf.end()) r.hdr->eotf.push_back(it->second);
      const bool lum = std::regex_search(s, m, kLuminance);
      if (lum && s.rfind("Desired content max luminance", 0) == 0) r.hdr->maxLuminance = std::stod(m[1]);
      if (lum && s.rfind("Desired content max frame-average", 0) == 0) r.hdr->maxFrameAverage = std::stod(m[1]);
      if (lum && s.rfind("Desired content min luminance", 0) == 0) r.hdr->minLuminance = std::stod(m[1]);
    }
    if (section == "Colorimetry Data Block:" && indent == 4 && s.find("MD") == std::string::npos) r.colorimetry.insert(s);
  }
  if (r.hdr) std::sort(r.hdr->eotf.begin(), r.hdr->eotf.end());
  return r;
}

bool Near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance; }

bool Near(const std::optional<double>& a, const std::optional<double>& b, double tolerance) {
  return a.has_value() == b.has_value() && (!a || Near(*a, *b, tolerance));
}

// Each JSON key: whether the model and edid-decode agree on it.
std::map<std::string, bool> Agreement(const EdidModel& m, const Reference& r) {
  std::map<std::string, bool> keys;
  keys["vendor"] = m.vendor == r.vendor;
  keys["product"] = m.product == r.product;
  keys["serial"] = m.serial == r.serial;
  keys["name"] = m.name == r.name;
  keys["year"] = m.year == r.year;
  keys["week"] = m.week == r.week;
  bool detailed = m.detailed.size() == r.detailed.size();
  for (std::size_t i = 0; detailed && i < m.detailed.size(); ++i) {
    const Timing& a = m.detailed[i];
    const Timing& b = r.detailed[i];
    detailed = a.width == b.width && a.height == b.height && a.interlaced == b.interlaced &&
               a.pixelClockKhz == b.pixelClockKhz && Near(a.refresh, b.refresh, 0.001);
  }
  keys["detailed"] = detailed;
  keys["preferred"] = detailed;
  bool video = m.video.size() == r.video.size();
  for (std::size_t i = 0; video && i < m.video.size(); ++i) {
    video = m.video[i].vic == r.video[i].vic && m.video[i].native == r.video[i].native;
  }
  keys["video"] = video;
  keys["ycbcr420_only"] = m.ycbcr420Only == r.only420;
  std::vector<int> also = r.also420;
  if (r.allAlso420) {
    for (const ShortVideo& v : r.video) also.push_back(v.vic);
  }
  keys["ycbcr420_also"] = m.ycbcr420Also == also;
  bool audio = m.audio.size() == r.audio.size();
  for (std::size_t i = 0; audio && i < m.audio.size(); ++i) {
    const ShortAudio& a = m.audio[i];
    const ShortAudio& b = r.audio[i];
    std::vector<double> rates = b.ratesKhz;
    std::vector<int> bits = b.bits;
    std::sort(rates.begin(), rates.end());
    std::sort(bits.begin(), bits.end());
    audio = a.formatCode == b.formatCode && a.extendedCode == b.extendedCode &&
            (b.channels == 0 || a.channels == b.channels) && a.ratesKhz == rates && a.bits == bits;
  }
  keys["audio"] = audio;
  std::set<std::string> speakers;
  for (const std::string& s : m.speakers) speakers.insert(Upper(s));
  keys["speakers"] = speakers == r.speakers;
  keys["hdmi"] = m.hdmi.has_value() == r.hdmi.has_value() &&
                 (!m.hdmi || (m.hdmi->physicalAddress == r.hdmi->physicalAddress &&
                              m.hdmi->maxTmdsMhz == r.hdmi->maxTmdsMhz && [&] {
                                std::vector<int> d = r.hdmi->deepColor;
                                std::sort(d.begin(), d.end());
                                return d == m.hdmi->deepColor;
                              }()));
  keys["hdmi_forum"] = m.hdmiForum.has_value() == r.forum.has_value() &&
                       (!m.hdmiForum || (m.hdmiForum->maxTmdsMhz == r.forum->maxTmdsMhz &&
                                         m.hdmiForum->scdc == r.forum->scdc &&
                                         m.hdmiForum->maxFrlGbps == r.forum->maxFrlGbps));
  keys["hdr"] = m.hdr.has_value() == r.hdr.has_value() &&
                (!m.hdr || ([&] {
                   std::vector<std::string> e = m.hdr->eotf;
                   std::sort(e.begin(), e.end());
                   return e == r.hdr->eotf;
                 }() && Near(m.hdr->maxLuminance, r.hdr->maxLuminance, 0.001) &&
                  Near(m.hdr->maxFrameAverage, r.hdr->maxFrameAverage, 0.001) &&
                  Near(m.hdr->minLuminance, r.hdr->minLuminance, 0.0006)));
  keys["colorimetry"] = std::set<std::string>(m.colorimetry.begin(), m.colorimetry.end()) == r.colorimetry;
  return keys;
}

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
