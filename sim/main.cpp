// vantorq-sim: a simulated video processor on pseudo-terminals, so that the
// console can be tried without hardware.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Simulator.h"
#include "StandardStreams.h"
#include "Trace.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) { g_stop = true; }

constexpr const char* kUsage =
    "usage: vantorq-sim [options]\n"
    "  --port-dir DIR      publish the ports as DIR/COMn (default: a new temporary folder)\n"
    "  --com N             the port the device answers on (default 5)\n"
    "  --silent LIST       more ports that open but never answer, e.g. 1,2,3-4\n"
    "  --fast              do not pace replies at 57600 baud\n"
    "  --log               print every command received and every line sent\n"
    "  --noise             send junk lines between the lines\n"
    "  --split-ms MS       send each line in two halves, MS milliseconds apart\n"
    "  --hang-up-after N   drop the line once after N bytes sent, then replug\n"
    "  --user-edid-fault changed|dropped\n"
    "                      store a user EDID with byte 131 changed, or not at all\n"
    "  --version           print the version and end\n"
    "Run the console with VANTORQ_PORT_DIR set to the printed folder.\n";

bool ParseNumber(std::string_view text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const std::string s(text);
  value = std::strtol(s.c_str(), &end, 10);
  return end != nullptr && *end == '\0';
}

bool ParseList(std::string_view text, std::vector<unsigned>& out) {
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const auto dash = item.find('-');
    long first = 0;
    long last = 0;
    if (dash == std::string_view::npos) {
      if (!ParseNumber(item, first)) return false;
      last = first;
    } else if (!ParseNumber(item.substr(0, dash), first) || !ParseNumber(item.substr(dash + 1), last)) {
      return false;
    }
    if (first < 1 || last > 99 || first > last) return false;
    for (long n = first; n <= last; ++n) out.push_back(static_cast<unsigned>(n));
  }
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantorq-sim: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vantorq::GuardStandardStreams();
  vantorq::sim::SimOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string_view v;
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("vantorq-sim %s\n", VANTORQ_VERSION);
      return 0;
    } else if (arg == "--port-dir") {
      if (!value(v) || v.empty()) return Fail("--port-dir needs a folder");
      options.portDir = std::string(v);
    } else if (arg == "--com") {
      if (!value(v) || !ParseNumber(v, n) || n < 1 || n > 99) return Fail("--com needs 1..99");
      options.com = static_cast<unsigned>(n);
    } else if (arg == "--silent") {
      if (!value(v) || !ParseList(v, options.silent)) return Fail("--silent needs a list of 1..99");
    } else if (arg == "--fast") {
      options.fast = true;
    } else if (arg == "--log") {
      options.log = true;
    } else if (arg == "--noise") {
      options.noise = true;
    } else if (arg == "--split-ms") {
      if (!value(v) || !ParseNumber(v, n) || n < 0 || n > 10000) return Fail("--split-ms needs 0..10000");
      options.splitMs = static_cast<int>(n);
    } else if (arg == "--hang-up-after") {
      if (!value(v) || !ParseNumber(v, n) || n < 0) return Fail("--hang-up-after needs a count");
      options.hangUpAfter = n;
    } else if (arg == "--user-edid-fault") {
      if (!value(v) || (v != "changed" && v != "dropped")) return Fail("--user-edid-fault needs changed or dropped");
      options.userEdidFault = v == "changed" ? vantorq::sim::UserEdidFault::OneByteChanged
                                             : vantorq::sim::UserEdidFault::Dropped;
    } else {
      return Fail("unknown option " + vantorq::Excerpt(arg));
    }
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  // Every way a terminal or a service manager ends it: the links go too.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  vantorq::sim::CSimulator simulator(options);
  std::string error;
  if (!simulator.Start(error)) {
    std::fprintf(stderr, "vantorq-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("port-dir %s\n", simulator.PortDir().c_str());
  std::printf("device on COM%u\n", options.com);
  std::fflush(stdout);
  simulator.Run(g_stop);
  return 0;
}
