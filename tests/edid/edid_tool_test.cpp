// vantorq-edid: the checks of an input, the forms an input may take, and the
// command run as a user runs it, on crafted inputs and on real EDIDs.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "EdidBuilder.h"
#include "EdidCheck.h"
#include "EdidEdit.h"
#include "EdidFile.h"
#include "EdidSummary.h"

namespace vantorq::test {
namespace {

namespace fs = std::filesystem;
using edid::EdidChange;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A well-formed 256-byte EDID: header, a timing, a CEA extension with one
// video block, both checksums right.
EdidBuffer Good() {
  EdidBuilder e;
  e.At(0, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}).At(8, {0x04, 0x43});
  e.Timing(54, 14850, 1920, 280, 1080, 45).Cea(6).At(132, {0x41, 0x90});
  e.bytes[127] = ExpectedChecksum(e.bytes, 0);
  e.bytes[255] = ExpectedChecksum(e.bytes, 1);
  return e.bytes;
}

std::string Str(std::span<const std::uint8_t> b) { return {b.begin(), b.end()}; }

std::string Hex(std::span<const std::uint8_t> b, const char* separator = " ", int perLine = 16) {
  std::string text;
  for (std::size_t i = 0; i < b.size(); ++i) {
    char pair[8];
    std::snprintf(pair, sizeof pair, "%02x", b[i]);
    text += pair;
    text += (i + 1) % static_cast<std::size_t>(perLine) == 0 ? "\n" : separator;
  }
  return text;
}

std::string ByteText(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", b);
  return text;
}

std::string Report(const EdidBuffer& edid, bool summary = false) {
  EdidReport report;
  const std::string s = DecodeAndSummarise(report, edid);
  return summary ? s : report.m_strVideo + report.m_strAudio + report.m_strGeneral;
}

TEST(EdidCheck, EachProblemIsToldWithTheValueFoundAndTheValueExpected) {
  const EdidBuffer good = Good();
  auto with = [&](std::size_t at, std::uint8_t value, std::size_t length = 256) {
    std::string b = Str(good).substr(0, std::min<std::size_t>(length, 256));
    if (length > 256) b += std::string(length - 256, '\0');
    if (at < b.size()) b[at] = static_cast<char>(value);
    return b;
  };
  std::string three = Str(good);  // three blocks, count 2, all sums right
  three[126] = 2;
  three[127] = static_cast<char>(ExpectedChecksum({reinterpret_cast<const std::uint8_t*>(three.data()), 256}, 0));
  three += std::string(127, '\x01') + std::string(1, '\x81');
  std::string padded = Str(good).substr(0, 128) + std::string(128, '\xff');
  padded[126] = 0;
  padded[127] = static_cast<char>(good[127] + 1);
  const struct {
    const char* name;
    std::string bytes;
    bool passes;
    std::vector<std::string> problems;
  } cases[] = {
      {"good", Str(good), true, {}},
      {"empty", "", false, {"was empty"}},
      {"text", "hello world\n", false,
       {"length 12 is shorter than the 128-byte base block", "header 68 65 6c 6c 6f 20 77 6f, should be 00 ff ff ff ff ff ff 00"}},
      {"cut short", Str(good).substr(0, 200), false,
       {"length 200 is not a multiple of 128", "extension count 1 (byte 126), but 0 extension blocks follow"}},
      {"header", with(7, 0x01), false,
       {"header 00 ff ff ff ff ff ff 01, should be 00 ff ff ff ff ff ff 00",
        "block 0 checksum " + ByteText(good[127]) + ", should be " + ByteText(static_cast<std::uint8_t>(good[127] - 1))}},
      {"a flipped bit in the extension", with(200, good[200] ^ 0x10), false, {}},
      {"count 1, no extension", Str(good).substr(0, 128), false, {"extension count 1 (byte 126), but 0 extension blocks follow"}},
      {"a base block padded with 0xFF", padded, true, {}},
      {"three blocks", three, true, {"length 384: only the first 256 bytes are decoded"}},
      {"count 2 in 256 bytes", with(126, 2), false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto verdict = CheckEdid({reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()});
    EXPECT_EQ(verdict.Passed(), c.passes) << verdict.Summary();
    std::vector<std::string> texts;
    for (const auto& p : verdict.problems) texts.push_back(p.text);
    if (!c.problems.empty()) {
      EXPECT_EQ(texts, c.problems);
    }
  }
  EdidBuffer flipped = good;
  flipped[200] ^= 0x10;
  EXPECT_EQ(CheckEdid(flipped).Summary(),
            "block 1 checksum " + ByteText(good[255]) + ", should be " + ByteText(static_cast<std::uint8_t>(good[255] + 0x10 * (good[200] & 0x10 ? 1 : -1))));
}

TEST(EdidInputForms, EveryFormTechniciansHaveGivesTheSameBytes) {
  const EdidBuffer good = Good();
  std::string upper = Hex(good);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string reply = "IN1 EDID 07 DATA";
  for (std::uint8_t b : good) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02x", b);
    reply += pair;
  }
  const std::string xrandr = "HDMI-1 connected\n\tEDID: \n\t\t" + Hex(std::span(good).first(128), "", 16 * 2).substr(0, 0) +
                             [&] {
                               std::string rows;
                               for (std::size_t i = 0; i < good.size(); i += 16) rows += "\t\t" + Hex(std::span(good).subspan(i, 16), "", 16);
                               return rows;
                             }() +
                             "\tBroadcast RGB: Automatic\n";
  const std::string dump = "edid-decode (hex):\n\n" + Hex(std::span(good).first(128)) + "\n" +
                           Hex(std::span(good).subspan(128)) + "\n----------------\n\nBlock 0, Base EDID:\n  Manufacturer: ABC\n";
  const struct {
    const char* name;
    std::string text;
    EdidInput::Form form;
  } cases[] = {
      {"binary", Str(good), EdidInput::Form::Binary},
      {"a decoder's hex dump", dump, EdidInput::Form::HexDump},
      {"upper case, CR LF", [&] { std::string s; for (char c : upper) s += c == '\n' ? std::string("\r\n") : std::string(1, c); return s; }(), EdidInput::Form::HexDump},
      {"one run of digits", Hex(good, "", 256), EdidInput::Form::HexDump},
      {"a C array", [&] { std::string s; for (std::uint8_t b : good) { char t[8]; std::snprintf(t, 8, "0x%02x, ", b); s += t; } return s + "\n"; }(), EdidInput::Form::HexDump},
      {"a C array in capitals", [&] { std::string s; for (std::uint8_t b : good) { char t[8]; std::snprintf(t, 8, "0X%02X,", b); s += t; } return s + "\n"; }(), EdidInput::Form::HexDump},
      {"xrandr --verbose", xrandr, EdidInput::Form::Xrandr},
      {"the device's reply", reply + "\r\n", EdidInput::Form::DeviceReply},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto input = InterpretEdidInput({reinterpret_cast<const std::uint8_t*>(c.text.data()), c.text.size()});
    EXPECT_EQ(input.form, c.form);
    EXPECT_EQ(input.bytes, std::vector<std::uint8_t>(good.begin(), good.end()));
  }
  // Text without pairs is no EDID at all.
  const std::string words = "hello world\n";
  EXPECT_EQ(InterpretEdidInput({reinterpret_cast<const std::uint8_t*>(words.data()), words.size()}).form, EdidInput::Form::Unknown);
}

// The field's reference decoder printed these hex dumps; each must read as
// the binary file that holds the same EDID.
TEST(EdidInputForms, TheReferenceToolsHexDumpsReadAsTheirBinaryTwins) {
  const fs::path dir = fs::path(VANTORQ_EDID_CORPUS).parent_path() / "tool-output";
  std::ifstream manifest(dir / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // header
  int twins = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string file, source, twin;
    std::getline(fields, file, '\t');
    std::getline(fields, source, '\t');
    std::getline(fields, twin, '\t');
    const std::string text = Slurp(dir / file);
    const auto input = InterpretEdidInput({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(input.form, EdidInput::Form::HexDump) << file;
    EXPECT_EQ(input.bytes.size() % 128, 0u) << file;
    const std::string binary = Slurp(dir.parent_path() / twin);
    ASSERT_EQ(binary.size(), 256u) << twin;
    EXPECT_EQ(EdidFromFileBytes(input.bytes), EdidFromFileBytes({reinterpret_cast<const std::uint8_t*>(binary.data()), 256}))
        << file << " and " << twin;
    ++twins;
  }
  EXPECT_EQ(twins, 20);
}

class EdidTool : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vantorq-edid-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  Result Run(const std::string& args, const std::string& env = "") {
    const auto out = m_dir / "stdout";
    const auto err = m_dir / "stderr";
    const std::string command = env + " " + VANTORQ_EDID_TOOL + " " + args + " >" + out.string() + " 2>" + err.string();
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  }

  fs::path m_dir;
};

TEST_F(EdidTool, TheReportStaysExactAndProblemsGoToStandardError) {
  const EdidBuffer good = Good();
  EdidBuffer flipped = good;
  flipped[60] ^= 0x01;
  const std::string a = Write("a.bin", Str(good));
  const std::string b = Write("b.bin", Str(flipped));
  EdidReport report;
  DecodeAndSummarise(report, good);
  const struct {
    std::string args;
    int status;
    std::string out;
    std::string errHas;
  } cases[] = {
      {a, 0, Report(good), ""},
      {"--section video " + a, 0, report.m_strVideo, ""},
      {"--section=general " + a, 0, report.m_strGeneral, ""},
      {"--summary " + a, 0, Report(good, true), ""},
      {b, 0, Report(flipped), "b.bin: block 0 checksum"},
      {"--lf --summary " + a, 0, [&] { std::string s = Report(good, true); for (auto at = s.find('\r'); at != std::string::npos; at = s.find('\r')) s.erase(at, 1); return s; }(), ""},
      {"--check " + a + " " + b, 1, a + ": ok\r\n" + b + ": FAILED\r\n", "b.bin: block 0 checksum"},
      {"- < " + Write("hex.txt", Hex(good)), 0, Report(good), ""},
      {"--check - < " + Write("reply.txt", "OUT1 EDID DATA " + Hex(good, " ", 256)), 0, "(standard input): ok\r\n", ""},
      {Write("empty.bin", ""), 2, "", "empty.bin: was empty"},
      {"--check /dev/null", 2, "", "/dev/null: was empty"},
      {"--version", 0, "vantorq-edid 0.1.0\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    if (c.errHas.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }
  }
}

TEST_F(EdidTool, JsonForScriptsAndTheDetailForAPerson) {
  ASSERT_EQ(std::system("command -v jq >/dev/null"), 0) << "jq is not installed (scripts/deps installs it)";
  const std::string corpus = std::string(VANTORQ_EDID_CORPUS) + "/*.bin";
  const struct {
    std::string args;
    int status;
    std::string out;
  } cases[] = {
      // Every real EDID, one object each, its keys in their order.
      {"--json " + corpus + " | jq -c '[length, (.[0] | keys_unsorted), ([.[].vendor] | unique | length > 40)]'", 0,
       R"([200,["file","size","blocks","vendor","product","serial","name","year","week","preferred","detailed",)"
       R"("video","ycbcr420_only","ycbcr420_also","audio","speakers","hdmi","hdmi_forum","hdr","colorimetry",)"
       R"("checks"],true])" "\n"},
      // One file: an object; what is wrong with it is in it.
      {"--json " + Write("flip.bin", [] { EdidBuffer b = Good(); b[60] ^= 1; return Str(b); }()) +
           " | jq -c '[.blocks, .preferred.width, .video[0], .checks[0].severity]'",
       0, "[2,1920,{\"vic\":16,\"native\":true},\"error\"]\n"},
      {"--json " + Write("empty.bin", "") + " " + Write("good.bin", Str(Good())) + " | jq -c 'map(.file | test(\"good\"))'",
       2, "[true]\n"},
      {"--detail --lf " + Write("good.bin", Str(Good())) + " | head -n 5 | cut -d: -f1", 0,
       "Highest mode\nHDR\nAudio\nSpeakers\nPhysical address\n"},
      {"--json --summary x.bin", 2, ""},
      {"--json --check x.bin", 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    // The tool's status through the pipe: bash's pipefail.
    const auto out = m_dir / "piped";
    const std::string script = Write("pipe.sh", "set -o pipefail; " + std::string(VANTORQ_EDID_TOOL) + " " + c.args +
                                                    " >" + out.string() + " 2>/dev/null\n");
    const int raw = std::system(("bash " + script).c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    EXPECT_EQ(Slurp(out), c.out);
  }
}

TEST_F(EdidTool, EveryInputFormOfARealEdidDecodesAlikeAndOtherTextIsRefused) {
  // The dumps as the field's tools write them; hexdump squeezes the
  // padding of 0001 into a "*" line.
  for (const char* name : {"0001.bin", "0008.bin"}) {
    SCOPED_TRACE(name);
    const std::string real = std::string(VANTORQ_EDID_CORPUS) + "/" + name;
    const Result binary = Run("--lf " + real);
    ASSERT_EQ(binary.status, 0) << binary.err;
    const std::string bytes = Slurp(real);
    std::string array;
    for (unsigned char b : bytes) {
      char t[8];
      std::snprintf(t, sizeof t, "0x%02x, ", b);
      array += t;
    }
    std::system(("xxd " + real + " >" + (m_dir / "dump.xxd").string() + "; hexdump -C " + real + " >" +
                 (m_dir / "dump.hd").string() + "; xxd -p " + real + " | tr -d '\\n' | head -c 511 >" +
                 (m_dir / "cut.hex").string()).c_str());
    const struct {
      std::string path;
      int status;
      std::string err;  // empty: decoded as the binary is
    } cases[] = {
        {(m_dir / "dump.xxd").string(), 0, ""},
        {(m_dir / "dump.hd").string(), 0, ""},
        {Write("array.h", "static const unsigned char edid[] = {\n" + array + "};\n"), 0, ""},
        {(m_dir / "cut.hex").string(), 2, "line 1 has an odd number of hex digits: the last one has no partner\n"},
        {std::string(VANTORQ_SOURCE_DIR) + "/README.md", 2, "unknown format: text, but neither hex pairs"},
    };
    for (const auto& c : cases) {
      const Result r = Run("--lf " + c.path);
      EXPECT_EQ(r.status, c.status) << c.path << "\n" << r.err;
      if (c.err.empty()) {
        EXPECT_EQ(r.out, binary.out) << c.path;
      } else {
        EXPECT_EQ(r.err.rfind("vantorq-edid: " + c.path + ": " + c.err, 0), 0u) << r.err;
        EXPECT_EQ(r.out, "") << c.path;
      }
    }
  }
  // --check tells notes apart from problems: a note never fails it.
  const std::string three = Write("three.bin", Str(Good()) + std::string(128, '\xff'));
  const Result noted = Run("--check " + three);
  EXPECT_EQ(noted.status, 0);
  EXPECT_EQ(noted.err, "vantorq-edid: " + three + ": note: length 384: only the first 256 bytes are decoded\n");
}

TEST_F(EdidTool, FixingTheChecksumsAndComparingTwoEdids) {
  const EdidBuffer good = Good();
  EdidBuffer broken = good;
  broken[56] = 0x00;  // another width: another preferred timing, and both sums off
  broken[200] ^= 0xFF;
  const std::string in = Write("broken.bin", Str(broken));
  const std::string fixed = (m_dir / "fixed.bin").string();
  EXPECT_EQ(Run("--fix-checksum " + fixed + " " + in).status, 0);
  const std::string out = Slurp(fixed);
  ASSERT_EQ(out.size(), 256u);
  EXPECT_EQ(Run("--check " + fixed).status, 0);
  EXPECT_EQ(out.substr(0, 127), Str(broken).substr(0, 127)) << "only the checksum bytes change";

  // In place, where a failed write must not cost the input: the file size
  // limit makes it fail (the shell's trap keeps the limit from killing).
  // Its messages go through a pipe, to which the limit does not apply.
  const std::string bytes = Str(broken);
  const std::string said = (m_dir / "said").string();
  std::system(("(trap '' XFSZ; ulimit -f 0; " + std::string(VANTORQ_EDID_TOOL) + " --fix-checksum " + in + " " + in +
               " 2>&1; echo \"exit $?\") | cat >" + said).c_str());
  EXPECT_EQ(Slurp(said), "vantorq-edid: " + in + ": File too large\nexit 2\n");
  fs::remove(said);
  EXPECT_EQ(Slurp(in), bytes) << "the input is whole";
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 4) << "no temporary file is left";
  EXPECT_EQ(Run("--fix-checksum " + in + " " + in).status, 0);
  EXPECT_EQ(Slurp(in), out);

  const std::string a = Write("a.bin", Str(good));
  const Result same = Run("--compare " + a + " " + a);
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.out, "");
  const Result differ = Run("--compare --lf " + a + " " + in);
  EXPECT_EQ(differ.status, 1);
  EXPECT_EQ(differ.out.rfind("- Preferred Timing:1920x1080@60Hz\n+ Preferred Timing:", 0), 0u) << differ.out;
  // The same first 256 bytes, but not the same file.
  const Result longer = Run("--compare --lf " + a + " " + Write("a384.bin", Str(good) + std::string(128, '\xff')));
  EXPECT_EQ(longer.status, 1);
  EXPECT_EQ(longer.out, "- length: 256 bytes\n+ length: 384 bytes\n");

  // Standard output that takes nothing is said, not only counted.
  const std::string err = (m_dir / "stderr").string();
  const int raw = std::system((std::string(VANTORQ_EDID_TOOL) + " " + a + " >/dev/full 2>" + err).c_str());
  EXPECT_EQ(WEXITSTATUS(raw), 2);
  EXPECT_EQ(Slurp(err), "vantorq-edid: standard output: No space left on device\n");
  // And a name from outside never reaches the terminal raw.
  const Result named = Run("$(printf 'x\\033[2Jy.bin')");
  EXPECT_EQ(named.err, "vantorq-edid: x\\x1b[2Jy.bin: No such file or directory\n");
}

TEST_F(EdidTool, ThePcsOwnMonitorsAreListedAndDecodedByConnector) {
  const fs::path drm = m_dir / "sys" / "class" / "drm";
  EdidBuilder named;
  named.bytes = Good();
  named.At(72, {0, 0, 0, 0xFC, 0, 'T', 'V', '-', '1', 0x0A});
  for (const auto& [connector, bytes] : std::map<std::string, std::string>{
           {"card0-HDMI-A-1", Str(named.bytes)}, {"card0-DP-1", ""}, {"card1", ""}}) {
    fs::create_directories(drm / connector);
    if (connector != "card1") std::ofstream(drm / connector / "edid", std::ios::binary) << bytes;
  }
  const std::string env = "VANTORQ_SYS_ROOT=" + (m_dir / "sys").string();
  const Result list = Run("--list-monitors --lf", env);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "card0-HDMI-A-1\tABC\tTV-1\n");
  const Result one = Run("--monitor HDMI-A-1 --summary", env);
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out, Report(named.bytes, true));
  EXPECT_EQ(Run("--monitor DP-1", env).status, 1) << "nothing connected there";
  const Result none = Run("--list-monitors", "VANTORQ_SYS_ROOT=" + m_dir.string());
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no monitor shows an EDID"), std::string::npos);
}

TEST_F(EdidTool, SeveralFilesAreHeadedAndWrongUseIsSaid) {
  const std::string a = Write("a.bin", Str(Good()));
  const std::string missing = (m_dir / "missing.bin").string();
  const Result r = Run("--summary " + a + " " + missing + " " + a);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "==> " + a + " <==\n" + Report(Good(), true) + "\n==> " + a + " <==\n" + Report(Good(), true));
  EXPECT_EQ(r.err, "vantorq-edid: " + missing + ": No such file or directory\n");
  EXPECT_NE(Run(m_dir.string()).err.find("Is a directory"), std::string::npos);
  // --check ends with the worst status, whichever file came first.
  EdidBuffer bad = Good();
  bad[0] = 0x01;
  const std::string failing = Write("bad.bin", Str(bad));
  EXPECT_EQ(Run("--check " + missing + " " + failing).status, 2);
  EXPECT_EQ(Run("--check " + failing + " " + missing).status, 2);
  EXPECT_EQ(Run("--check " + a + " " + failing).status, 1);
  EXPECT_EQ(Run("--help").out.rfind("usage: vantorq-edid", 0), 0u);
  for (const char* args : {"", "--frobnicate x.bin", "--section", "--section colour x.bin", "--compare x.bin"}) {
    const Result wrong = Run(args);
    EXPECT_EQ(wrong.status, 2) << args;
    EXPECT_NE(wrong.err.find("usage: vantorq-edid"), std::string::npos) << args;
  }
}

// edit as a script meets it: what is wrong on the command line, a change
// that cannot be made, and an output that is a link each write nothing.
TEST_F(EdidTool, EditWritesWhatItSaysOrNothing) {
  const std::string in = Write("in.bin", Str(Good()));
  const std::string out = (m_dir / "out.bin").string();
  EdidChange name(EdidChange::Kind::Name, "HALL A");
  const auto expected = edid::EditEdid(Good(), {EdidChange(EdidChange::Kind::Serial, {}, 5), name});
  ASSERT_TRUE(expected.ok) << expected.error;

  const struct {
    std::string args;
    int status;
    std::string err;  // a part of it
  } wrong[] = {
      {"edit", 2, "edit needs an input EDID"},
      {"edit " + in + " --serial 5", 2, "edit needs -o OUT"},
      {"edit " + in + " -o " + out, 2, "edit needs at least one change"},
      {"edit " + in + " " + in + " -o " + out + " --serial 5", 2, "edit takes one input"},
      {"edit " + in + " -o " + out + " --max-tmds 24", 2, "--max-tmds takes a number from 25 to 1275, not '24'"},
      {"edit " + in + " -o " + out + " --serial -1", 2, "--serial takes a number from 0 to 4294967295"},
      {"edit " + in + " -o " + out + " --serial 5x", 2, "not '5x'"},
      {"edit " + in + " -o " + out + " --remove-vic 16,,4", 2, "--remove-vic takes VICs from 1 to 255"},
      {"edit " + in + " -o " + out + " --audio lpcm6", 2, "--audio takes lpcm2"},
      {"edit " + in + " -o " + out + " --audio-from " + (m_dir / "none.bin").string(), 2, "No such file or directory"},
      {"edit " + in + " -o " + out + " --frobnicate", 2, "edit: unknown change '--frobnicate'"},
      {"edit " + in + " -o " + out + " --name", 2, "--name needs a value"},
      {"edit " + in + " -o " + out + " --name 'FOURTEEN CHARS'", 3, "--name takes 1 to 13 printable ASCII characters, not 14; nothing was written"},
      {"edit " + in + " -o " + out + " --preferred 1280x720@60", 3, "1280x720@60Hz is not among this EDID's modes: it has 1920x1080@"},
  };
  for (const auto& c : wrong) {
    SCOPED_TRACE(c.args);
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
  // A refused change leaves what was there.
  Write("out.bin", "what was there");
  EXPECT_EQ(Run("edit " + in + " -o " + out + " --vendor V1Q").status, 3);
  EXPECT_EQ(Slurp(out), "what was there");
  fs::remove(out);

  const Result made = Run("edit " + in + " -o " + out + " --serial 5 --name 'HALL A'");
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(Slurp(out), Str(expected.bytes));
  EXPECT_EQ(made.err, "vantorq-edid: " + out + ": serial number 5; name 'HALL A' (descriptor 2)\n");
  // Into a pipe, for the next program.
  const Result piped = Run("edit " + in + " -o - --serial 5 --name 'HALL A'");
  EXPECT_EQ(piped.out, Str(expected.bytes));
  EXPECT_NE(piped.err.find("(standard output): serial number 5"), std::string::npos);
  // Never through a link: the file it leads to stays as it was.
  fs::create_symlink(in, m_dir / "link.bin");
  const Result linked = Run("edit " + in + " -o " + (m_dir / "link.bin").string() + " --serial 9");
  EXPECT_EQ(linked.status, 2);
  EXPECT_NE(linked.err.find("is a link: name the file itself; nothing was written"), std::string::npos);
  EXPECT_EQ(Slurp(in), Str(Good()));
  // A dry run shows the lines of --detail that change, and writes nothing.
  fs::remove(out);
  const Result dry = Run("edit " + in + " -o " + out + " --dry-run --lf --name 'HALL A'");
  EXPECT_EQ(dry.status, 0);
  EXPECT_NE(dry.out.find("+   Name: HALL A\n"), std::string::npos) << dry.out;
  EXPECT_EQ(dry.out.find("\n  "), std::string::npos) << "only lines that changed";
  EXPECT_NE(dry.err.find("would be: name 'HALL A' (descriptor 2) (nothing was written)"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
}

// All 200 real EDIDs: their hex text reads as their bytes, and --check, in
// one run over all of them, passes exactly those whose sums are right.
TEST_F(EdidTool, RealEdidsReadAsHexAndCheckAsTheirChecksumsSay) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(VANTORQ_EDID_CORPUS)) {
    if (entry.path().extension() == ".bin") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 200u);
  std::string args = "--check";
  std::string expected;
  for (const auto& f : files) {
    const std::string bytes = Slurp(f);
    const std::string text = Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    const auto input = InterpretEdidInput({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(Str(input.bytes), bytes) << f;
    // Computed here, apart from the tool: each counted block sums to 0.
    bool right = true;
    for (std::size_t block = 0; block <= (static_cast<std::uint8_t>(bytes[126]) >= 1 ? 1u : 0u); ++block) {
      unsigned sum = 0;
      for (std::size_t i = 0; i < 128; ++i) sum += static_cast<std::uint8_t>(bytes[block * 128 + i]);
      right = right && sum % 256 == 0;
    }
    args += " " + f.string();
    expected += f.string() + (right ? ": ok\r\n" : ": FAILED\r\n");
  }
  const Result r = Run(args);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, expected.find("FAILED") != std::string::npos ? 1 : 0);
}

}  // namespace
}  // namespace vantorq::test
