// vantorq-edid: decodes EDID files as the console does, for technicians and
// scripts. Output is the console's own text, CR LF line ends and all.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "EdidFile.h"
#include "EdidReport.h"
#include "EdidSummary.h"

namespace {

constexpr const char* kUsage =
    "usage: vantorq-edid [--section video|audio|general | --summary] FILE...\n"
    "Decodes each FILE (its first 256 bytes; a shorter file is completed with 0xFF)\n"
    "and writes the video, audio and general report sections, or the one section\n"
    "asked for, or the console's short summary. With several files, each output is\n"
    "preceded by a line \"==> FILE <==\".\n";

enum class What { All, Video, Audio, General, Summary };

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vantorq-edid: %s\n%s", message.c_str(), kUsage);
  return 2;
}

void Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int main(int argc, char** argv) {
  What what = What::All;
  std::vector<const char*> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (options && arg == "--summary") {
      what = What::Summary;
    } else if (options && (arg == "--section" || arg.rfind("--section=", 0) == 0)) {
      std::string_view value;
      if (arg == "--section") {
        if (i + 1 >= argc) return UsageError("--section needs video, audio or general");
        value = argv[++i];
      } else {
        value = arg.substr(10);
      }
      if (value == "video") {
        what = What::Video;
      } else if (value == "audio") {
        what = What::Audio;
      } else if (value == "general") {
        what = What::General;
      } else {
        return UsageError("unknown section '" + std::string(value) + "'");
      }
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + std::string(arg) + "'");
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return UsageError("no file given");

  int status = 0;
  bool first = true;
  vantorq::EdidReport report;
  for (const char* path : files) {
    std::vector<std::uint8_t> bytes;
    bool more = false;
    int error = 0;
    if (!vantorq::ReadEdidInput(path, vantorq::kEdidSize, bytes, more, error)) {
      std::fflush(stdout);
      std::fprintf(stderr, "vantorq-edid: %s: %s\n", path, std::strerror(error));
      status = 2;
      continue;
    }
    if (files.size() > 1) {
      // As head(1) does: a blank line between files, then the name.
      if (!first) Write("\n");
      Write("==> ");
      Write(path);
      Write(" <==\n");
    }
    first = false;
    const auto edid = vantorq::EdidFromFileBytes(bytes);
    const std::string summary = vantorq::DecodeAndSummarise(report, edid);
    switch (what) {
      case What::All:
        Write(report.m_strVideo);
        Write(report.m_strAudio);
        Write(report.m_strGeneral);
        break;
      case What::Video: Write(report.m_strVideo); break;
      case What::Audio: Write(report.m_strAudio); break;
      case What::General: Write(report.m_strGeneral); break;
      case What::Summary: Write(summary); break;
    }
  }
  return std::fflush(stdout) == 0 ? status : 2;
}
