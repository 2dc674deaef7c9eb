#include "CommandLine.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "Trace.h"

namespace vantorq {

namespace {

constexpr const char* kUsage =
    "usage: vantorq [--help] [--version] [Qt options]\n"
    "\n"
    "Configures a Vantorq 4K HDMI video processor over an RS-232 line: finds it on\n"
    "COM1..COM99, sets its enhancement and scaler mode, chooses its EDID preset,\n"
    "reads EDIDs back into files and writes an EDID file into its user buffer.\n"
    "Files (KVAddrMg.ini, saved EDIDs) go to the folder it is started from.\n"
    "\n"
    "  --help       this text\n"
    "  --version    the version\n"
    "  Qt's own options are taken as well, e.g. -platform xcb, -style fusion.\n"
    "\n"
    "Environment: VANTORQ_PORT_DIR (a folder of COMn links used instead of the\n"
    "fixed table), VANTORQ_TRACE=1 (every command and line on standard error),\n"
    "VANTORQ_LOCK_DIR (where port lock files go). See vantorq(1).\n";

// Qt's own options, which QApplication takes out of argv itself.
constexpr std::array<std::string_view, 14> kQtWithValue{
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
    "session", "display", "geometry", "style", "stylesheet", "title", "name"};
constexpr std::array<std::string_view, 5> kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <std::size_t N>
bool Among(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::string_view n : names) {
    if (n == name) return true;
  }
  return false;
}

CommandLine Fail(const std::string& why) {
  std::fprintf(stderr, "vantorq: %s\n%s", why.c_str(), kUsage);
  return {CommandLine::Action::Exit, 2};
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv, const std::string& version) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return {CommandLine::Action::Exit, std::fflush(stdout) == 0 ? 0 : 2};
    }
    if (arg == "--version") {
      std::printf("vantorq %s\n", version.c_str());
      return {CommandLine::Action::Exit, std::fflush(stdout) == 0 ? 0 : 2};
    }
    if (arg.size() < 2 || arg[0] != '-') return Fail("unexpected argument '" + EscapeControls(arg) + "'");
    std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
    const auto equals = name.find('=');
    if (equals != std::string_view::npos) name = name.substr(0, equals);
    if (Among(kQtFlags, name)) continue;
    if (Among(kQtWithValue, name)) {
      if (equals == std::string_view::npos && ++i >= argc) return Fail("option '" + EscapeControls(arg) + "' needs a value");
      continue;
    }
    return Fail("unknown option '" + EscapeControls(arg) + "'");
  }
  return {};
}

}  // namespace vantorq
