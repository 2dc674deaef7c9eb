// vantorq-edid: decodes EDIDs as the console does, for technicians and
// scripts. The report is the console's own text, CR LF line ends and all;
// what is wrong with an input goes to standard error, never into it.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "EdidCheck.h"
#include "EdidDetail.h"
#include "EdidEdit.h"
#include "EdidFile.h"
#include "EdidJson.h"
#include "EdidReport.h"
#include "EdidSummary.h"
#include "Monitors.h"
#include "StandardStreams.h"
#include "Trace.h"

namespace {

using vantorq::EdidBuffer;
using vantorq::EdidInput;

constexpr const char* kUsage =
    "usage: vantorq-edid [--section video|audio|general | --summary | --detail] [--lf] FILE...\n"
    "       vantorq-edid --json FILE...\n"
    "       vantorq-edid edit IN -o OUT [--dry-run] [--lf] CHANGE...\n"
    "       vantorq-edid --check FILE...\n"
    "       vantorq-edid --fix-checksum OUT FILE\n"
    "       vantorq-edid --compare A B\n"
    "       vantorq-edid --list-monitors | --monitor NAME\n"
    "\n"
    "Decodes each FILE as the console does: its first 256 bytes, a shorter EDID\n"
    "completed with 0xFF. A FILE is binary, or text holding the bytes as hex pairs:\n"
    "a hex dump or C array, an xxd or hexdump -C dump, the EDID block of xrandr\n"
    "--verbose, or the device's read reply line; other text is an unknown format.\n"
    "- reads standard input. With several files each output is preceded by\n"
    "\"==> FILE <==\".\n"
    "\n"
    "  --section S        one section of the report: video, audio or general\n"
    "  --summary          the summary the console's EDID page shows\n"
    "  --detail           five answers for an installer, the report, then every block\n"
    "                     of every extension, one fact a line\n"
    "  --json             the decoded EDID as JSON, one object a file (an array for\n"
    "                     several); see vantorq-edid(1) for its keys\n"
    "  --lf               end lines with LF (the console's report uses CR LF)\n"
    "  --check            only the verdict, \"FILE: ok\" or \"FILE: FAILED\"\n"
    "  --fix-checksum OUT write a 256-byte copy of FILE with both checksums corrected\n"
    "  --compare A B      the report lines that differ: - from A, + from B\n"
    "  --list-monitors    this PC's monitors that show an EDID (/sys/class/drm)\n"
    "  --monitor NAME     decode the EDID of the monitor on connector NAME\n"
    "  --version, --help\n"
    "\n"
    "edit changes IN (128 or 256 bytes) into OUT, in the order given, checksums made\n"
    "right: --name TEXT, --serial N, --vendor ABC, --product N, --preferred WxH@HZ,\n"
    "--remove-vic N[,N...], --max-tmds MHZ, --audio lpcm2, --audio-from FILE,\n"
    "--no-hdr. What each change did is said on standard error. --dry-run writes\n"
    "nothing and shows the lines of --detail that would change. OUT may be - (a\n"
    "pipe, never a terminal); it is never written through a link.\n"
    "\n"
    "Problems (length, header, checksums, extension count) are told on standard\n"
    "error with the value found and the value expected; notes, which never fail\n"
    "a check, begin with \"note: \". Exit status: 0; 1 when --check finds a\n"
    "problem or --compare a difference, or no monitor is found; 2 when an input is\n"
    "empty, cannot be read, is of an unknown format or ends on an odd hex digit,\n"
    "when an output cannot be written, or when the command line is wrong; 3 when\n"
    "edit cannot make a change (the reason is said, and nothing is written).\n";

// Far beyond any EDID; only the first 256 bytes are ever decoded.
constexpr std::size_t kMaxInput = 1 << 20;

enum class What { All, Video, Audio, General, Summary, Detail, Json };

struct Options {
  What what = What::All;
  bool check = false;
  bool lf = false;
  bool compare = false;
  bool listMonitors = false;
  std::string fixOut;
  std::string monitor;
  std::vector<std::string> files;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vantorq-edid: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Why standard output failed, the first time it did (0: it has not).
int g_stdoutError = 0;

void Put(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && g_stdoutError == 0) {
    g_stdoutError = errno != 0 ? errno : EIO;
  }
}

void Write(std::string_view text, bool lf) {
  if (!lf) {
    Put(text);
    return;
  }
  std::string out(text);
  for (std::size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at)) out.erase(at, 1);
  Put(out);
}

// A file's name as the tool shows it; a name may hold anything, and what
// reaches the terminal must not be able to control it.
std::string Shown(const std::string& path) { return path == "-" ? "(standard input)" : vantorq::EscapeControls(path); }

void Say(const std::string& path, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "vantorq-edid: %s: %s\n", Shown(path).c_str(), text.c_str());
}

// Reads and interprets one input; false (said on stderr) when it cannot be
// read or is empty.
bool Load(const std::string& path, EdidInput& input) {
  std::vector<std::uint8_t> raw;
  bool more = false;
  int error = 0;
  if (!vantorq::ReadEdidInput(path, kMaxInput, raw, more, error)) {
    Say(path, std::strerror(error));
    return false;
  }
  if (more) Say(path, "longer than " + std::to_string(kMaxInput) + " bytes; the rest was not read");
  input = vantorq::InterpretEdidInput(raw);
  if (input.form == EdidInput::Form::Unknown) {
    Say(path, "unknown format: text, but neither hex pairs (a hex dump, xxd, hexdump -C, a C array), "
              "xrandr's EDID block nor the device's reply");
    return false;
  }
  if (!input.problem.empty()) {
    Say(path, input.problem);
    return false;
  }
  if (input.bytes.empty()) {
    Say(path, raw.empty() ? "was empty" : "holds no EDID bytes");
    return false;
  }
  return true;
}

std::string Report(const EdidBuffer& edid, What what) {
  vantorq::EdidReport report;
  const std::string summary = vantorq::DecodeAndSummarise(report, edid);
  switch (what) {
    case What::Video: return report.m_strVideo;
    case What::Audio: return report.m_strAudio;
    case What::General: return report.m_strGeneral;
    case What::Summary: return summary;
    case What::All:
    case What::Detail:
    case What::Json:
      break;
  }
  return report.m_strVideo + report.m_strAudio + report.m_strGeneral;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// Writes the lines that differ, in report order: a longest common
// subsequence of the two reports' lines stays unprinted. True when any do.
bool WriteDifferences(const std::vector<std::string>& x, const std::vector<std::string>& y, bool lf) {
  std::vector<std::vector<int>> common(x.size() + 1, std::vector<int>(y.size() + 1, 0));
  for (std::size_t i = x.size(); i-- > 0;) {
    for (std::size_t j = y.size(); j-- > 0;) {
      common[i][j] = x[i] == y[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    }
  }
  bool differ = false;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < x.size() || j < y.size()) {
    if (i < x.size() && j < y.size() && x[i] == y[j]) {
      ++i;
      ++j;
    } else if (j == y.size() || (i < x.size() && common[i + 1][j] >= common[i][j + 1])) {
      Write("- " + x[i++], lf);
      differ = true;
    } else {
      Write("+ " + y[j++], lf);
      differ = true;
    }
  }
  return differ;
}

int Compare(const std::vector<std::string>& files, const Options& o) {
  if (files.size() != 2) return UsageError("--compare needs two files");
  EdidInput a;
  EdidInput b;
  if (!Load(files[0], a) || !Load(files[1], b)) return 2;
  auto x = SplitLines(Report(vantorq::EdidFromFileBytes(a.bytes), o.what));
  auto y = SplitLines(Report(vantorq::EdidFromFileBytes(b.bytes), o.what));
  // Reports of the first 256 bytes alone would call a 128-byte EDID and its
  // 256-byte twin the same.
  if (a.bytes.size() != b.bytes.size()) {
    x.insert(x.begin(), "length: " + std::to_string(a.bytes.size()) + " bytes\r\n");
    y.insert(y.begin(), "length: " + std::to_string(b.bytes.size()) + " bytes\r\n");
  }
  return WriteDifferences(x, y, o.lf) ? 1 : 0;
}

// vantorq-edid edit IN -o OUT [changes...]: the changes in the order
// given; OUT the size of IN, written beside and renamed, never through a
// link. --dry-run writes nothing and shows what would change.
constexpr int kEditRefused = 3;  // a change that cannot be made: nothing written

int Edit(int argc, char** argv) {
  using vantorq::edid::EdidChange;
  std::string in;
  std::string out;
  bool dryRun = false;
  bool lf = false;
  bool optionsEnded = false;
  std::vector<EdidChange> changes;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      if (!in.empty()) return UsageError("edit takes one input, not also '" + vantorq::EscapeControls(arg) + "'");
      in = std::string(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--dry-run") {
      dryRun = true;
      continue;
    }
    if (arg == "--lf") {
      lf = true;
      continue;
    }
    if (arg == "--no-hdr") {
      changes.emplace_back(EdidChange::Kind::NoHdr);
      continue;
    }
    constexpr std::array<std::string_view, 11> kTakesValue{"-o",        "--output",     "--name",       "--vendor",
                                                            "--preferred", "--serial",   "--product",    "--max-tmds",
                                                            "--remove-vic", "--audio",   "--audio-from"};
    if (std::find(kTakesValue.begin(), kTakesValue.end(), arg) == kTakesValue.end()) {
      return UsageError("edit: unknown change '" + vantorq::EscapeControls(arg) + "'");
    }
    if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
    const std::string value = argv[++i];
    auto number = [&](long long low, long long high, long long& n) {
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
      return !value.empty() && error == std::errc() && end == value.data() + value.size() && n >= low && n <= high;
    };
    long long n = 0;
    if (arg == "-o" || arg == "--output") {
      if (value.empty()) return UsageError("-o needs a file name");
      out = value;
    } else if (arg == "--name") {
      changes.emplace_back(EdidChange::Kind::Name, value);
    } else if (arg == "--vendor") {
      changes.emplace_back(EdidChange::Kind::Vendor, value);
    } else if (arg == "--preferred") {
      changes.emplace_back(EdidChange::Kind::Preferred, value);
    } else if (arg == "--serial" || arg == "--product" || arg == "--max-tmds") {
      const long long high = arg == "--serial" ? 0xFFFFFFFFLL : arg == "--product" ? 0xFFFF : 1275;
      if (!number(arg == "--max-tmds" ? 25 : 0, high, n)) {
        return UsageError(std::string(arg) + " takes a number from " + (arg == "--max-tmds" ? "25" : "0") + " to " +
                          std::to_string(high) + ", not '" + vantorq::EscapeControls(value) + "'");
      }
      changes.emplace_back(arg == "--serial"    ? EdidChange::Kind::Serial
                           : arg == "--product" ? EdidChange::Kind::Product
                                                : EdidChange::Kind::MaxTmds,
                           std::string(), n);
    } else if (arg == "--remove-vic") {
      EdidChange change(EdidChange::Kind::RemoveVics);
      std::string_view rest = value;
      while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        int vic = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), vic);
        if (item.empty() || error != std::errc() || end != item.data() + item.size() || vic < 1 || vic > 255) {
          return UsageError("--remove-vic takes VICs from 1 to 255, as 96,97, not '" + vantorq::EscapeControls(value) + "'");
        }
        change.vics.push_back(vic);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      }
      if (change.vics.empty()) return UsageError("--remove-vic needs at least one VIC");
      changes.push_back(std::move(change));
    } else if (arg == "--audio") {
      if (value != "lpcm2") return UsageError("--audio takes lpcm2, not '" + vantorq::EscapeControls(value) + "'");
      changes.emplace_back(EdidChange::Kind::AudioLpcm2);
    } else {  // --audio-from
      EdidInput other;
      if (!Load(value, other)) return 2;
      changes.emplace_back(EdidChange::Kind::AudioFrom, value);
      changes.back().other = other.bytes;
    }
  }
  if (in.empty()) return UsageError("edit needs an input EDID");
  if (out.empty() && !dryRun) return UsageError("edit needs -o OUT (or --dry-run)");
  if (changes.empty()) return UsageError("edit needs at least one change");
  EdidInput input;
  if (!Load(in, input)) return 2;
  const auto edited = vantorq::edid::EditEdid(input.bytes, changes);
  if (!edited.ok) {
    Say(in, edited.error + "; nothing was written");
    return kEditRefused;
  }
  std::string said;
  for (const std::string& done : edited.done) said += (said.empty() ? "" : "; ") + done;
  if (dryRun) {
    // The whole of --detail, so that a change outside the report (HDR, the
    // HDMI Forum block, speakers) shows too.
    const auto before = SplitLines(vantorq::edid::DetailReport(input.bytes));
    const auto after = SplitLines(vantorq::edid::DetailReport(edited.bytes));
    WriteDifferences(before, after, lf);
    Say(in, "would be: " + said + " (nothing was written)");
    return 0;
  }
  // Never through a link: standard output's own names aside, a link is
  // refused rather than followed to a file it may not be meant to reach.
  struct stat st {};
  const bool standardOutput = out == "-" || out == "/dev/stdout" || out == "/dev/fd/1";
  if (!standardOutput && ::lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    Say(out, "is a link: name the file itself; nothing was written");
    return 2;
  }
  const vantorq::OutputResult written = vantorq::WriteOutput(out, edited.bytes);
  if (!written.written) {
    Say(out, written.why + "; nothing was written");
    return 2;
  }
  Say(out == "-" ? "(standard output)" : out, said);
  return 0;
}

int FixChecksum(const Options& o) {
  if (o.files.size() != 1) return UsageError("--fix-checksum needs one FILE");
  EdidInput input;
  if (!Load(o.files[0], input)) return 2;
  EdidBuffer edid = vantorq::EdidFromFileBytes(input.bytes);
  std::string said;
  for (int block = 0; block < 2; ++block) {
    auto& sum = edid[static_cast<std::size_t>(block) * vantorq::kEdidBlockSize + vantorq::kEdidBlockSize - 1];
    const std::uint8_t expected = vantorq::ExpectedChecksum(edid, block);
    if (sum != expected) {
      char text[64];
      std::snprintf(text, sizeof text, "%sblock %d checksum 0x%02x, was 0x%02x", said.empty() ? "" : ", ", block,
                    expected, sum);
      said += text;
      sum = expected;
    }
  }
  int error = 0;
  // Beside it and renamed: a failed write never costs the file that was
  // there, which may be the input itself.
  if (!vantorq::ReplaceFile(o.fixOut, edid, &error)) {
    Say(o.fixOut, std::strerror(error));
    return 2;
  }
  Say(o.fixOut, said.empty() ? "both checksums were right already" : said);
  return 0;
}

int ListMonitors(const Options& o) {
  const auto monitors = vantorq::tool::ListMonitors();
  if (monitors.empty()) {
    std::fprintf(stderr, "vantorq-edid: no monitor shows an EDID under %s\n", vantorq::tool::DrmFolder().c_str());
    return 1;
  }
  for (const auto& m : monitors) {
    EdidInput input;
    if (!Load(m.edidPath, input)) continue;
    const std::string general = Report(vantorq::EdidFromFileBytes(input.bytes), What::General);
    auto value = [&](std::string_view key) {
      const auto at = general.find(key);
      if (at == std::string::npos) return std::string();
      std::string text = general.substr(at + key.size(), general.find('\r', at) - at - key.size());
      while (!text.empty() && text.back() == ' ') text.pop_back();
      return text;
    };
    Write(m.connector + "\t" + value("Manufacture's Name:") + "\t" + value("Display Product Name:") + "\r\n", o.lf);
  }
  return 0;
}

// Every file as JSON: the checks are in it, not on standard error.
int DecodeJson(const Options& o) {
  int status = 0;
  vantorq::edid::CJsonArrayWriter array(Put);
  for (const std::string& path : o.files) {
    EdidInput input;
    if (!Load(path, input)) {
      status = 2;
      continue;
    }
    const auto model = vantorq::edid::DecodeModel(input.bytes);
    if (o.files.size() == 1) {
      Put(vantorq::edid::ModelJson(model, path));
    } else {
      array.Add(model, path);
    }
  }
  if (o.files.size() > 1) array.Finish();
  return status;
}

int Decode(const Options& o) {
  if (o.what == What::Json) return DecodeJson(o);
  int status = 0;
  bool first = true;
  for (const std::string& path : o.files) {
    EdidInput input;
    if (!Load(path, input)) {
      status = 2;
      continue;
    }
    const vantorq::EdidVerdict verdict = vantorq::CheckEdid(input.bytes);
    // Notes are told apart from problems at a glance: they never fail a check.
    for (const auto& problem : verdict.problems) {
      Say(path, (problem.severity == vantorq::EdidProblem::Severity::Note ? "note: " : "") + problem.text);
    }
    if (o.check) {
      Write(Shown(path) + (verdict.Passed() ? ": ok\r\n" : ": FAILED\r\n"), o.lf);
      if (!verdict.Passed()) status = std::max(status, 1);
      continue;
    }
    if (o.files.size() > 1) {
      // As head(1) does: a blank line between files, then the name.
      Write(std::string(first ? "" : "\n") + "==> " + Shown(path) + " <==\n", false);
    }
    first = false;
    if (o.what == What::Detail) {
      Write(vantorq::edid::DetailReport(input.bytes), o.lf);
      continue;
    }
    Write(Report(vantorq::EdidFromFileBytes(input.bytes), o.what), o.lf);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  vantorq::GuardStandardStreams();
  if (argc > 1 && std::string_view(argv[1]) == "edit") {
    const int status = Edit(argc, argv);
    if (std::fflush(stdout) != 0) return 2;
    return status;
  }
  Options o;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view name, std::string& out) {
      if (arg.rfind(std::string(name) + "=", 0) == 0) {
        out = std::string(arg.substr(name.size() + 1));
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto is = [&](std::string_view name) { return arg == name || arg.rfind(std::string(name) + "=", 0) == 0; };
    std::string v;
    if (!options || arg == "-" || arg.empty() || arg[0] != '-') {
      o.files.emplace_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("vantorq-edid %s\n", VANTORQ_VERSION);
      return 0;
    } else if (arg == "--summary" || arg == "--detail" || arg == "--json") {
      const What what = arg == "--summary" ? What::Summary : arg == "--detail" ? What::Detail : What::Json;
      if (o.what != What::All && o.what != what) return UsageError("one of --section, --summary, --detail and --json");
      o.what = what;
    } else if (arg == "--check") {
      o.check = true;
    } else if (arg == "--lf") {
      o.lf = true;
    } else if (arg == "--compare") {
      o.compare = true;
    } else if (arg == "--list-monitors") {
      o.listMonitors = true;
    } else if (is("--section")) {
      if (!value("--section", v)) return UsageError("--section needs video, audio or general");
      if (o.what != What::All) return UsageError("one of --section, --summary, --detail and --json");
      if (v == "video") {
        o.what = What::Video;
      } else if (v == "audio") {
        o.what = What::Audio;
      } else if (v == "general") {
        o.what = What::General;
      } else {
        return UsageError("unknown section '" + vantorq::EscapeControls(v) + "'");
      }
    } else if (is("--fix-checksum")) {
      if (!value("--fix-checksum", o.fixOut) || o.fixOut.empty()) return UsageError("--fix-checksum needs OUT");
    } else if (is("--monitor")) {
      if (!value("--monitor", o.monitor) || o.monitor.empty()) return UsageError("--monitor needs a connector name");
    } else {
      return UsageError("unknown option '" + vantorq::EscapeControls(arg) + "'");
    }
  }

  int status = 0;
  if (o.listMonitors) {
    status = ListMonitors(o);
  } else if (o.compare) {
    status = Compare(o.files, o);
  } else {
    if (!o.monitor.empty()) {
      vantorq::tool::Monitor monitor;
      if (!vantorq::tool::FindMonitor(o.monitor, monitor)) {
        std::fprintf(stderr, "vantorq-edid: no monitor %s shows an EDID (see --list-monitors)\n",
                     vantorq::EscapeControls(o.monitor).c_str());
        return 1;
      }
      o.files.push_back(monitor.edidPath);
    }
    if (o.files.empty()) return UsageError("no file given");
    if (o.what == What::Json && (o.check || !o.fixOut.empty() || o.lf)) {
      return UsageError("--json goes alone: not with --check, --fix-checksum or --lf");
    }
    status = o.fixOut.empty() ? Decode(o) : FixChecksum(o);
  }
  if (std::fflush(stdout) != 0 && g_stdoutError == 0) g_stdoutError = errno != 0 ? errno : EIO;
  if (g_stdoutError != 0) {
    std::fprintf(stderr, "vantorq-edid: standard output: %s\n", std::strerror(g_stdoutError));
    return 2;
  }
  return status;
}
