// Editing real EDIDs for the unit's user slot, with edid-decode as the
// judge: each change is what edid-decode then reports, and an edited EDID
// fails none of edid-decode's conformity checks that its input passed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

#include "EdidBuilder.h"
#include "EdidCheck.h"
#include "EdidDecodeReference.h"
#include "EdidEdit.h"
#include "EdidModel.h"
#include "VicTable.h"

namespace vantorq::edid {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Kind = EdidChange::Kind;

Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class EdidEdit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const auto& entry : fs::directory_iterator(VANTORQ_EDID_CORPUS)) {
      if (entry.path().extension() == ".bin") s_corpus.push_back(entry.path());
    }
    std::sort(s_corpus.begin(), s_corpus.end());
  }
  void SetUp() override {
    ASSERT_EQ(std::system("command -v edid-decode >/dev/null"), 0) << "edid-decode is not installed (scripts/deps installs it)";
    m_dir = fs::temp_directory_path() / ("vantorq-edit-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // What edid-decode says of `bytes`, and the failures of its check with
  // their numbers left out (a timing's number changes when timings move).
  std::pair<Reference, std::set<std::string>> Judge(const Bytes& bytes) {
    const fs::path file = m_dir / "judged.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    const std::string text = Output("edid-decode -c '" + file.string() + "' 2>&1");
    std::set<std::string> failures;
    const auto at = text.find("\nFailures:\n");
    if (at != std::string::npos) {
      std::istringstream in(text.substr(at + 11));
      for (std::string line; std::getline(in, line) && line.rfind("EDID conformity", 0) != 0;) {
        if (line.rfind("  ", 0) != 0) continue;
        failures.insert(std::regex_replace(line, std::regex("[0-9]+"), "#"));
      }
    }
    return {Parse(text), failures};
  }

  // Edits `file` with `changes`; the edit must pass the project's checks,
  // fail nothing edid-decode's input did not, and `holds` what edid-decode
  // then reports. Only two refusals are taken, each of a real EDID: no
  // room left in its extension, and an extension laid out against the
  // standard. Returns whether it was edited.
  bool ExpectEdit(const fs::path& file, const std::vector<EdidChange>& changes,
                  const std::function<void(const Reference&, const EdidModel&)>& holds) {
    SCOPED_TRACE(file.filename().string());
    const Bytes in = ReadBytes(file);
    const EditOutcome out = EditEdid(in, changes);
    if (!out.ok) {
      EXPECT_TRUE(out.error.rfind("the changes do not fit", 0) == 0 || out.error.find("cannot be laid out again") != std::string::npos)
          << out.error;
      return false;
    }
    EXPECT_EQ(out.bytes.size(), in.size());
    EXPECT_TRUE(CheckEdid(out.bytes).Passed()) << CheckEdid(out.bytes).Summary();
    const auto before = Judge(in);
    const auto after = Judge(out.bytes);
    for (const std::string& failure : after.second) {
      EXPECT_TRUE(before.second.count(failure) != 0) << "a failure the input did not have: " << failure;
    }
    holds(after.first, DecodeModel(out.bytes));
    return true;
  }

  // ExpectEdit on each of `files`: at least `least` of them edited.
  void ExpectEdits(const std::vector<fs::path>& files, std::size_t least, const std::vector<EdidChange>& changes,
                   const std::function<void(const Reference&, const EdidModel&)>& holds) {
    std::size_t edited = 0;
    for (const fs::path& file : files) edited += ExpectEdit(file, changes, holds) ? 1 : 0;
    EXPECT_GE(edited, least) << "of " << files.size();
  }

  // The real EDIDs whose model `has` what a change needs.
  std::vector<fs::path> With(const std::function<bool(const EdidModel&)>& has, std::size_t most = 12) {
    std::vector<fs::path> chosen;
    for (const fs::path& file : s_corpus) {
      if (chosen.size() < most && has(DecodeModel(ReadBytes(file)))) chosen.push_back(file);
    }
    return chosen;
  }

  static inline std::vector<fs::path> s_corpus;
  fs::path m_dir;
};

bool HasCta(const EdidModel& m) { return !m.extensionTags.empty() && m.extensionTags[0] == 0x02; }

TEST_F(EdidEdit, TheIdentityAndTheNameAreWhatEdidDecodeReports) {
  // Changes to the base block leave the extension byte for byte, even one
  // whose layout could not be taken apart (0019).
  for (const fs::path& file : s_corpus) {
    const Bytes in = ReadBytes(file);
    const EditOutcome out = EditEdid(in, {EdidChange(Kind::Serial, {}, 7), EdidChange(Kind::Vendor, "ABC")});
    ASSERT_TRUE(out.ok) << file << ": " << out.error;
    EXPECT_TRUE(std::equal(in.begin() + 128, in.end(), out.bytes.begin() + 128)) << file;
  }
  // A 128-byte EDID stays 128 bytes.
  const fs::path only = With([](const EdidModel& m) { return m.extensionTags.empty() || m.extensionTags[0] == 0xFF; }, 1).at(0);
  Bytes base = ReadBytes(only);
  base.resize(128);
  const EditOutcome small = EditEdid(base, {EdidChange(Kind::Name, "HALL A")});
  ASSERT_TRUE(small.ok) << small.error;
  EXPECT_EQ(small.bytes.size(), 128u);
  EXPECT_EQ(Judge(small.bytes).first.name, "HALL A");
  for (const fs::path& file : With([](const EdidModel& m) { return m.size == 256; }, 20)) {
    ExpectEdit(file,
               {EdidChange(Kind::Name, "HALL A"), EdidChange(Kind::Serial, {}, 4242424242LL),
                EdidChange(Kind::Vendor, "vtq"), EdidChange(Kind::Product, {}, 65535)},
               [](const Reference& r, const EdidModel&) {
                 EXPECT_EQ(r.name, "HALL A");
                 EXPECT_EQ(r.serial, 4242424242u);
                 EXPECT_EQ(r.vendor, "VTQ");
                 EXPECT_EQ(r.product, 65535);
               });
  }
}

TEST_F(EdidEdit, EachCtaChangeIsWhatEdidDecodeThenReports) {
  // The richest audio of the corpus, as an AV receiver's.
  fs::path receiver;
  std::size_t most = 0;
  for (const fs::path& file : s_corpus) {
    const EdidModel m = DecodeModel(ReadBytes(file));
    if (m.audio.size() > most) {
      most = m.audio.size();
      receiver = file;
    }
  }
  const EdidModel avr = DecodeModel(ReadBytes(receiver));
  // An HDBaseT link: nothing beyond 340 MHz, a 4:2:0 form that fits kept.
  std::size_t edited = 0;
  const auto forum = With([](const EdidModel& m) { return m.hdmiForum.has_value(); });
  for (const fs::path& file : forum) {
    const EdidModel m = DecodeModel(ReadBytes(file));
    edited += ExpectEdit(file, {EdidChange(Kind::MaxTmds, {}, 340)}, [&](const Reference& r, const EdidModel&) {
      EXPECT_FALSE(r.forum.has_value()) << "no HDMI Forum block at 340 MHz";
      for (const ShortVideo& v : r.video) {
        const VicTiming* t = FindVic(v.vic);
        EXPECT_TRUE(t == nullptr || t->pixelClockKhz <= 340000) << "VIC " << v.vic;
      }
      for (const Timing& t : r.detailed) EXPECT_LE(t.pixelClockKhz, 340000);
      for (int vic : r.only420) EXPECT_LE(FindVic(vic)->pixelClockKhz / 2, 340000) << "VIC " << vic;
      for (int vic : m.ycbcr420Also) {
        const VicTiming* t = FindVic(vic);
        if (t->pixelClockKhz > 340000 && t->pixelClockKhz / 2 <= 340000) {
          EXPECT_EQ(std::count(r.only420.begin(), r.only420.end(), vic), 1) << "VIC " << vic << " kept as 4:2:0 only";
        }
      }
      if (r.hdmi && r.hdmi->maxTmdsMhz) {
        EXPECT_LE(*r.hdmi->maxTmdsMhz, 340);
      }
    }) ? 1 : 0;
  }
  EXPECT_GE(edited, forum.size() - 1);
  const auto audio = With([](const EdidModel& m) { return !m.audio.empty(); });
  ExpectEdits(audio, 10, {EdidChange(Kind::AudioLpcm2)}, [](const Reference& r, const EdidModel&) {
    ASSERT_EQ(r.audio.size(), 1u);
    EXPECT_EQ(r.audio[0].formatCode, 1);
    EXPECT_EQ(r.audio[0].channels, 2);
    EXPECT_EQ(r.speakers, std::set<std::string>{"FL/FR"});
  });
  ExpectEdits(With([](const EdidModel& m) { return HasCta(m) && m.audio.empty(); }, 6), 4, {EdidChange(Kind::AudioLpcm2)},
              [](const Reference& r, const EdidModel&) { EXPECT_EQ(r.audio.size(), 1u) << "audio where there was none"; });
  EdidChange from(Kind::AudioFrom);
  from.other = ReadBytes(receiver);
  ExpectEdits(audio, 5, {from}, [&](const Reference& r, const EdidModel& m) {
    EXPECT_EQ(r.audio.size(), avr.audio.size());
    EXPECT_EQ(m.speakers, avr.speakers);
  });
  ExpectEdits(With([](const EdidModel& m) { return m.hdr.has_value(); }), 11, {EdidChange(Kind::NoHdr)},
              [](const Reference& r, const EdidModel&) { EXPECT_FALSE(r.hdr.has_value()); });
  edited = 0;
  const auto maps = With([](const EdidModel& m) { return m.video.size() >= 2 && !m.ycbcr420Also.empty(); });
  for (const fs::path& file : maps) {
    const EdidModel m = DecodeModel(ReadBytes(file));
    const int gone = m.ycbcr420Also.front();
    EdidChange remove(Kind::RemoveVics);
    remove.vics = {gone};
    edited += ExpectEdit(file, {remove}, [&](const Reference& r, const EdidModel& after) {
      for (const ShortVideo& v : r.video) EXPECT_NE(v.vic, gone);
      EXPECT_EQ(std::count(r.also420.begin(), r.also420.end(), gone), 0);
      // The map follows the VICs that stay: the others it marked, it marks still.
      std::vector<int> still;
      for (int vic : m.ycbcr420Also) {
        if (vic != gone) still.push_back(vic);
      }
      EXPECT_EQ(after.ycbcr420Also, still);
    }) ? 1 : 0;
  }
  EXPECT_EQ(edited, maps.size());
  // The preferred timing: the second detailed timing, or a VIC's.
  for (const fs::path& file : With([](const EdidModel& m) { return m.detailed.size() >= 2 && HasCta(m); }, 8)) {
    const Timing second = DecodeModel(ReadBytes(file)).detailed[1];
    const std::string mode = ModeName(second);
    EXPECT_TRUE(ExpectEdit(file, {EdidChange(Kind::Preferred, mode.substr(0, mode.size() - 2))}, [&](const Reference& r, const EdidModel&) {
      ASSERT_FALSE(r.detailed.empty());
      EXPECT_EQ(ModeName(r.detailed[0]), mode);
    }));
  }
  ExpectEdits(With([](const EdidModel& m) {
                return std::any_of(m.video.begin(), m.video.end(), [](const ShortVideo& v) { return v.vic == 4; }) &&
                       std::none_of(m.detailed.begin(), m.detailed.end(), [](const Timing& t) { return ModeName(t) == "1280x720@60Hz"; });
              }, 12),
              4, {EdidChange(Kind::Preferred, "1280x720@60")}, [](const Reference& r, const EdidModel&) {
                ASSERT_FALSE(r.detailed.empty());
                EXPECT_EQ(ModeName(r.detailed[0]), "1280x720@60Hz") << "built from VIC 4";
                EXPECT_EQ(r.detailed[0].pixelClockKhz, 74250);
              });
}

// The fastest timing edid-decode lists, in MHz; a 4:2:0-only VIC counts at
// half its clock, as the link carries it.
double FastestTiming(const fs::path& dir, const Bytes& bytes) {
  const fs::path file = dir / "fastest.bin";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::istringstream in(Output("edid-decode '" + file.string() + "'"));
  double fastest = 0;
  bool only420 = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("  ", 0) == 0 && line[2] != ' ' && line.back() == ':') only420 = line.find("4:2:0 Video Data Block") != std::string::npos;
    std::smatch clock;
    if (std::regex_search(line, clock, std::regex("kHz +([0-9.]+) MHz"))) fastest = std::max(fastest, std::stod(clock[1]) / (only420 ? 2 : 1));
  }
  return fastest;
}

// A link of 165 or 340 MHz: no timing of any kind beyond it remains.
TEST_F(EdidEdit, NothingBeyondTheLinkRemains) {
  auto fast = With([](const EdidModel& m) {
    return HasCta(m) && std::any_of(m.detailed.begin(), m.detailed.end(), [](const Timing& t) { return t.pixelClockKhz > 340000; });
  }, 16);
  ASSERT_GE(fast.size(), 10u);
  fast.push_back(fs::path(VANTORQ_EDID_CORPUS) / "0052.bin");  // HDMI VICs whose CTA-861 twins it never listed
  for (const long long mhz : {165, 340}) {
    std::size_t edited = 0;
    for (const fs::path& file : fast) {
      SCOPED_TRACE(file.filename().string() + " at " + std::to_string(mhz) + " MHz");
      const EditOutcome out = EditEdid(ReadBytes(file), {EdidChange(Kind::MaxTmds, {}, mhz)});
      if (!out.ok) {
        EXPECT_EQ(out.error.rfind("no mode would remain", 0), 0u) << out.error;
        continue;
      }
      edited += ExpectEdit(file, {EdidChange(Kind::MaxTmds, {}, mhz)}, [](const Reference&, const EdidModel&) {}) ? 1 : 0;
      EXPECT_LE(FastestTiming(m_dir, out.bytes), static_cast<double>(mhz));
    }
    EXPECT_GE(edited, fast.size() / 2);
  }
}

// The HDMI block names SVDs by their place: removing some must leave its
// 3D formats on the same VICs, and its HDMI VICs with their CTA-861 twins.
TEST_F(EdidEdit, TheHdmiBlockFollowsTheVicsThatStay) {
  const fs::path file = fs::path(VANTORQ_EDID_CORPUS) / "0113.bin";  // 3D mask, 3D list, HDMI VICs 1 to 4
  const auto lines3d = [&](const Bytes& bytes, const std::set<int>& without) {
    const fs::path at = m_dir / "3d.bin";
    std::ofstream(at, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::istringstream in(Output("edid-decode '" + at.string() + "'"));
    std::vector<std::string> kept;
    bool in3d = false;
    for (std::string line; std::getline(in, line);) {
      if (line.find("3D VIC indices") != std::string::npos || line.find("HDMI VICs:") != std::string::npos) in3d = true;
      if (line.find("Data Block") != std::string::npos) in3d = false;
      std::smatch vic;
      if (!in3d || !std::regex_search(line, vic, std::regex("(HDMI )?VIC +([0-9]+):"))) continue;
      const int twin = vic[1].matched ? std::array{0, 95, 94, 93, 98}.at(std::stoul(vic[2])) : std::stoi(vic[2]);
      if (without.count(twin) == 0) kept.push_back(line);
    }
    return kept;
  };
  const Bytes in = ReadBytes(file);
  ASSERT_GE(lines3d(in, {}).size(), 15u) << "the corpus file no longer has its 3D formats";
  for (const std::vector<int>& vics : {std::vector<int>{16, 5}, {31}, {95, 93}, {34, 60, 62}}) {
    EdidChange remove(Kind::RemoveVics);
    remove.vics = vics;
    const EditOutcome out = EditEdid(in, {remove});
    ASSERT_TRUE(out.ok) << out.error;
    const std::set<int> gone(vics.begin(), vics.end());
    EXPECT_EQ(lines3d(out.bytes, {}), lines3d(in, gone)) << "removing VIC " << vics.front();
    for (const std::string& failure : Judge(out.bytes).second) EXPECT_TRUE(Judge(in).second.count(failure) != 0) << failure;
  }
}

TEST_F(EdidEdit, EachRefusalSaysWhyAndChangesNothing) {
  const Bytes real = ReadBytes(s_corpus[33]);
  test::EdidBuilder full;  // four descriptors, none free: a name has no place
  full.At(0, {0, 255, 255, 255, 255, 255, 255, 0});
  for (std::size_t slot : {54u, 72u, 90u, 108u}) full.Timing(slot, 14850, 1920, 280, 1080, 45);
  EdidChange fourteen(Kind::Name, "FOURTEEN CHARS");
  EdidChange remove(Kind::RemoveVics);
  remove.vics = {200};
  EdidChange avr(Kind::AudioFrom);
  avr.other = ReadBytes(fs::path(VANTORQ_EDID_CORPUS) / "0117.bin");
  const struct {
    const char* name;
    Bytes input;
    std::vector<EdidChange> changes;
    std::string error;  // its start
  } cases[] = {
      {"a name of 14 characters", real, {fourteen}, "--name takes 1 to 13 printable ASCII characters, not 14"},
      {"no descriptor free", Bytes(full.bytes.begin(), full.bytes.begin() + 128), {EdidChange(Kind::Name, "X")},
       "no descriptor is free for a name: the four hold a timing, a timing, a timing, a timing"},
      {"no such mode", real, {EdidChange(Kind::Preferred, "1234x567@89")}, "1234x567@89Hz is not among this EDID's modes: it has "},
      {"a VIC not listed", real, {remove}, "VIC 200 is not listed in this EDID"},
      {"384 bytes", [&] { Bytes b = real; b.resize(384, 0); return b; }(), {EdidChange(Kind::NoHdr)},
       "it holds 384 bytes: only an EDID of 128 or 256 bytes is edited, as the unit's slot holds 256"},
      {"nothing at 25 MHz", real, {EdidChange(Kind::MaxTmds, {}, 25)}, "no mode would remain at 25 MHz"},
      {"a 128-byte EDID has no extension", Bytes(real.begin(), real.begin() + 128), {EdidChange(Kind::NoHdr)},
       "--no-hdr changes the CTA-861 extension, and this EDID has none"},
      {"an extension it cannot take apart", ReadBytes(fs::path(VANTORQ_EDID_CORPUS) / "0019.bin"), {EdidChange(Kind::AudioLpcm2)},
       "--audio changes the CTA-861 extension, and its CTA-861 extension gives its timings an offset of 247"},
      {"the receiver's audio does not fit", ReadBytes(fs::path(VANTORQ_EDID_CORPUS) / "0105.bin"), {avr},
       "the changes do not fit in the CTA-861 extension: 14 bytes too many"},
      {"no EDID header", [&] { Bytes b = real; b[0] = 1; return b; }(), {EdidChange(Kind::Serial, {}, 1)},
       "it does not begin with the EDID header"},
      {"every mode beyond the link", ReadBytes(fs::path(VANTORQ_EDID_CORPUS) / "0188.bin"), {EdidChange(Kind::MaxTmds, {}, 340)},
       "no mode would remain at 340 MHz: the slowest it has, 3840x2160@60Hz, needs 533.25 MHz"},
      {"a later change fails: none is made", real, {EdidChange(Kind::Serial, {}, 1), EdidChange(Kind::Vendor, "V1Q")},
       "--vendor takes three letters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EditOutcome out = EditEdid(c.input, c.changes);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error.rfind(c.error, 0), 0u) << out.error;
    EXPECT_TRUE(out.bytes.empty());
  }
}

}  // namespace
}  // namespace vantorq::edid
