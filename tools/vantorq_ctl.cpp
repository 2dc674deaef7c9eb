// vantorq-ctl: the device driven from a script or a control system, over
// the console's own channel, protocol, search and checks. One command a
// run; the result on standard output, the reasons on standard error.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ComPorts.h"
#include "NetworkLine.h"
#include "PortsFile.h"
#include "CtlCommands.h"
#include "CtlFleet.h"
#include "CtlSession.h"
#include "FileIo.h"
#include "StandardStreams.h"
#include "Trace.h"

namespace {

using namespace vantorq;
using namespace vantorq::tool;
using std::chrono::milliseconds;

constexpr std::string_view kUsage =
    "usage: vantorq-ctl [--port PORTS] [--timeout SECONDS] [--no-verify] [--json] COMMAND\n"
    "\n"
    "  find [--all]                  search COM1..COM99 (or probe --port); print the port that answered\n"
    "                                (--all: every port that answers)\n"
    "  status                        the device's preset, scaler mode and enhancement\n"
    "  get preset|scaler|enhancement the bare number\n"
    "  set preset N                  N 0..15, then check what the device reports\n"
    "  set scaler N                  N 0..3 (BYPASS, 4K->2K, 2K->4K, HDBT C mode)\n"
    "  set enhancement N             N 0..3 (Off, Weak, Medium, Strong)\n"
    "  read-edid output [-o FILE]    the output port's EDID, 256 bytes (binary)\n"
    "  read-edid input N [-o FILE]   the EDID of preset N of input 1\n"
    "  write-user-edid FILE          FILE (128 or 256 bytes, binary or hex) into the user\n"
    "                                EDID (preset 15), then read back and compared\n"
    "  save-setup FILE               preset, scaler, enhancement and user EDID to FILE\n"
    "  apply-setup FILE              the same, from FILE, into the device, then checked\n"
    "\n"
    "Without --port the ports are searched first, as the console's \"Search Machine\"\n"
    "does. PORTS is a port or a list of them: COMn (found as the console finds it:\n"
    "the ports file, VANTORQ_PORT_DIR, else the fixed table), COMa-COMb, a device\n"
    "path (/dev/ttyUSB0), or a network gateway's socket://HOST:PORT (raw TCP) or\n"
    "rfc2217://HOST:PORT (Telnet, the line set through it), separated by commas.\n"
    "Several units are done at once, each line prefixed by its port; a file name\n"
    "of theirs holds %p for the port's name (-o tv-%p.bin). --timeout changes how\n"
    "long the device may take to answer (default 0.5 s). --no-verify skips reading\n"
    "the user EDID back. --json prints one object per unit (an array for several).\n"
    "FILE - is standard input (or output, for -o and save-setup); -- ends the\n"
    "options. --list-ports prints the COM names whose device or gateway exists.\n"

    "\n"
    "Exit status (of several units, the highest): 0 done and confirmed; 1 the\n"
    "device did not answer or confirm, a reply was cut or garbled, a write was not\n"
    "verified, no device was found, or a signal ended the wait; 2 a wrong command\n"
    "line, or a file that cannot be read or written; 3 a port that cannot be\n"
    "opened (missing, busy, no permission, a gateway that refuses or cannot be\n"
    "reached); 4 done and confirmed, but the result could not be written to\n"
    "standard output.\n";

// SIGINT, SIGTERM, SIGHUP and SIGQUIT end every wait, file reads
// included, so that the port and its lock are released as after a normal
// end. Each signal puts a byte in two pipes: the stop pipe is never read,
// so that it stays readable for every later wait that polls it; the event
// pipe is read by the event loop, which counts the signals.
std::array<int, 2> g_stopPipe{-1, -1};
std::array<int, 2> g_eventPipe{-1, -1};

extern "C" void OnSignal(int sig) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(sig);
  for (int fd : {g_stopPipe[1], g_eventPipe[1]}) [[maybe_unused]] const auto n = ::write(fd, &byte, 1);
  errno = saved;
}

void CatchSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  // A unit forked from the run makes pipes of its own.
  for (int fd : {g_stopPipe[0], g_stopPipe[1], g_eventPipe[0], g_eventPipe[1]}) {
    if (fd >= 0) ::close(fd);
  }
  if (::pipe2(g_stopPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(g_eventPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(sig, &action, nullptr);
  // A gateway's connection is a wait like any other.
  SetNetworkOpenStop(g_stopPipe[0]);
}

int StopFd() { return g_stopPipe[0]; }

// Said once standard error's writer runs: the command line is read before
// any thread exists, so that units can be forked from it.
std::string g_usageError;

int UsageError(const std::string& why) {
  g_usageError = "vantorq-ctl: " + why + "\n" + std::string(kUsage.substr(0, kUsage.size() - 1));
  return kCannot;
}

bool Number(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

// Writes to standard output for the options that print and end.
int Printed(std::string_view text) {
  return WriteAllTo(STDOUT_FILENO, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, StopFd())
             ? kDone
             : kNotReported;
}

// A path given as the port: every COM name leads to it.
class CPathOpener final : public IPortOpener {
 public:
  explicit CPathOpener(std::string path) : m_path(std::move(path)) {}
  std::unique_ptr<ISerialPort> Open(std::string_view, OpenAttempt& attempt) override {
    return OpenLine(m_path, attempt);
  }

 private:
  std::string m_path;
};

// Each command and the words it takes (itself included); 0: checked by it.
const std::map<std::string_view, std::size_t> kWords{{"find", 0},           {"status", 1},          {"set", 3},      {"get", 2},
                                                     {"read-edid", 0},      {"write-user-edid", 2}, {"save-setup", 2},
                                                     {"apply-setup", 2}};

// Parses the command line; a status to exit with when it is done with it.
std::optional<int> ParseArguments(int argc, char** argv, CtlOptions& options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // A negative number is a (wrong) value, not an option.
    const bool negative = arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-' || negative) {
      options.words.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name VALUE", "--name=VALUE"; nullopt when `arg` is not `name`.
    std::string problem;
    auto value = [&](std::string_view name) -> std::optional<std::string> {
      if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        return std::string(arg.substr(name.size() + 1));
      }
      if (arg != name) return std::nullopt;
      if (i + 1 >= argc) {
        problem = std::string(name) + " needs a value";
        return std::string();
      }
      return std::string(argv[++i]);
    };
    if (arg == "--help" || arg == "-h") return Printed(kUsage);
    if (arg == "--version") return Printed(std::string("vantorq-ctl ") + VANTORQ_VERSION + "\n");
    if (arg == "--list-ports") {
      // For completion: the COM names whose device is there.
      std::string names;
      for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
        if (ComPortPresent(n)) names += "COM" + std::to_string(n) + "\n";
      }
      return Printed(names);
    }
    if (arg == "--no-verify") {
      options.verify = false;
      options.noVerifyGiven = true;
      continue;
    }
    if (arg == "--json") {
      options.json = true;
      continue;
    }
    if (arg == "--all") {
      options.all = true;
      continue;
    }
    if (auto port = value("--port")) {
      if (!problem.empty()) return UsageError(problem);
      if (options.port) return UsageError("--port given twice: give one list (--port COM34,COM35)");
      if (port->empty()) return UsageError("--port needs a port: COM1..COM99, or a device path such as /dev/ttyUSB0");
      std::string why;
      if (!ExpandPorts(*port, options.ports, why)) return UsageError("--port: " + why);
      if (options.ports.size() > kMostUnits) {
        return UsageError("--port: " + std::to_string(options.ports.size()) + " units; at most " +
                          std::to_string(kMostUnits) + " in one run");
      }
      options.port = std::move(port);
      continue;
    }
    if (auto timeout = value("--timeout")) {
      if (!problem.empty()) return UsageError(problem);
      double seconds = 0;
      const auto [end, error] = std::from_chars(timeout->data(), timeout->data() + timeout->size(), seconds);
      if (timeout->empty() || error != std::errc() || end != timeout->data() + timeout->size() || !(seconds > 0) ||
          seconds > 3600) {
        return UsageError("--timeout takes seconds, more than 0 and at most 3600, not " + Excerpt(*timeout));
      }
      options.timeout = milliseconds(static_cast<long>(std::ceil(seconds * 1000)));
      continue;
    }
    std::optional<std::string> output = value("-o");
    if (!output) output = value("--output");
    if (output) {
      if (!problem.empty()) return UsageError(problem);
      if (options.output) return UsageError("-o given twice");
      if (output->empty()) return UsageError("-o needs a file name (- for standard output)");
      options.output = std::move(output);
      continue;
    }
    return UsageError("unknown option " + Excerpt(arg));
  }
  if (options.words.empty()) return UsageError("no command given");
  const auto& words = options.words;
  const std::string& command = words[0];
  const auto known = kWords.find(command);
  if (known == kWords.end()) return UsageError("unknown command " + Excerpt(command));
  if (known->second != 0 && words.size() != known->second) {
    return UsageError(command == "set" ? "set preset|scaler|enhancement N" : command + ": wrong number of arguments");
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i].empty()) return UsageError(command + ": an empty argument");
  }
  // Every number within its range before the device is asked anything.
  if (command == "set") {
    static const std::map<std::string_view, int> kHighest{{"preset", 15}, {"scaler", 3}, {"enhancement", 3}};
    const auto what = kHighest.find(words[1]);
    if (what == kHighest.end()) return UsageError("set what? preset, scaler or enhancement, not " + Excerpt(words[1]));
    if (!Number(words[2], 0, what->second)) {
      return UsageError(words[1] + " takes a number from 0 to " + std::to_string(what->second) + ", not " +
                        Excerpt(words[2]));
    }
  }
  if (command == "find" && words.size() != 1) return UsageError("find: wrong number of arguments");
  if (command == "get" && words[1] != "preset" && words[1] != "scaler" && words[1] != "enhancement") {
    return UsageError("get what? preset, scaler or enhancement, not " + Excerpt(words[1]));
  }
  if (command == "read-edid" && !(words.size() == 2 && words[1] == "output") &&
      !(words.size() == 3 && words[1] == "input" && Number(words[2], 0, 15))) {
    return UsageError("read-edid output, or read-edid input N with N from 0 to 15");
  }
  if (options.output && command != "read-edid") return UsageError("-o goes with read-edid");
  if (options.noVerifyGiven && command != "write-user-edid" && command != "apply-setup") {
    return UsageError("--no-verify goes with write-user-edid and apply-setup");
  }
  if (options.all && command != "find") return UsageError("--all goes with find");
  // Standard output holds the JSON; binary or a setup would spoil it.
  const bool toStandardOutput = (command == "read-edid" && options.output.value_or("-") == "-") ||
                                (command == "save-setup" && words[1] == "-");
  if (options.json && toStandardOutput) {
    return UsageError("--json prints the result on standard output: give " + command + " a file");
  }
  if (options.ports.size() > 1) {
    if (toStandardOutput) {
      return UsageError(command + " on several units needs a file with %p in its name (tv-%p.bin): %p becomes each "
                                  "unit's port");
    }
    const std::string* file = command == "read-edid" ? &*options.output : command == "save-setup" ? &words[1] : nullptr;
    if (file != nullptr && file->find("%p") == std::string::npos) {
      return UsageError(Excerpt(*file) + " would be written by every unit: put %p in its name (tv-%p.bin)");
    }
    if ((command == "write-user-edid" || command == "apply-setup") && words[1] == "-") {
      return UsageError("- (standard input) can feed one unit: name a file for several");
    }
  }
  return std::nullopt;
}

// The units of a run: --port's list, or for find --all every COM port
// whose device is there.
std::vector<std::string> Units(const CtlOptions& options) {
  if (!options.ports.empty()) return options.ports;
  std::vector<std::string> ports;
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
    if (ComPortPresent(n)) ports.push_back("COM" + std::to_string(n));
  }
  return ports;
}

// One unit's options, from the run's: its port, and its file names.
CtlOptions ForUnit(const CtlOptions& options, const std::string& port) {
  CtlOptions unit = options;
  unit.port = port;
  unit.ports = {port};
  unit.all = false;
  if (unit.output) unit.output = PerUnit(*unit.output, port);
  if (unit.words[0] == "save-setup") unit.words[1] = PerUnit(unit.words[1], port);
  return unit;
}
// One unit, or a search for it.
int RunOne(int argc, char** argv, CtlOptions options, bool resultsClosed) {
  // The port: a COM name as the console finds it, or a device path.
  std::shared_ptr<IPortOpener> opener = PosixPortOpener();
  int port = 1;
  std::string portName;
  if (options.port) {
    options = ForUnit(options, options.ports.front());
    if (options.port->find('/') != std::string::npos) {
      opener = std::make_shared<CPathOpener>(*options.port);
      portName = EscapeControls(*options.port);
    } else {
      port = static_cast<int>(StrictComNumber(*options.port));
      portName = *options.port;
    }
  }

  QCoreApplication app(argc, argv);
  CCtlSession session(opener, options.timeout);
  std::optional<QSocketNotifier> interrupts;
  if (g_eventPipe[0] >= 0) {
    interrupts.emplace(g_eventPipe[0], QSocketNotifier::Read);
    QObject::connect(&*interrupts, &QSocketNotifier::activated, [&] {
      unsigned char byte = 0;
      while (::read(g_eventPipe[0], &byte, 1) == 1) session.Interrupt();
    });
    // A signal that came before the loop ran: nothing is sent then.
    unsigned char byte = 0;
    while (::read(g_eventPipe[0], &byte, 1) == 1) session.Interrupt();
  }
  CCtlCommands commands(session, options, {STDOUT_FILENO, resultsClosed, StopFd(), {}}, port, portName);
  const int status = commands.Run();
  return session.Interrupted() && status == kDone ? kNotConfirmed : status;
}

// What is still queued gets a moment; then the program ends, whether or
// not anyone read it, without waiting for the writer thread.
[[noreturn]] void End(int status) {
  FlushErrorLog(milliseconds(500));
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed descriptor 1 or 2 would be handed
  // to the port or its lock file, and a result line would go down the line.
  const auto closed = GuardStandardStreams();
  SetProgramName("vantorq-ctl");
  CatchSignals();
  // Each run opens its gateway at once: a lookup started ahead would be a
  // thread alive at the fork, whose answer no unit would ever see.
  ResolveNamesAhead(false);
  CtlOptions options;
  const auto parsed = ParseArguments(argc, argv, options);
  std::vector<std::string> units;
  if (!parsed && (options.all || options.ports.size() > 1)) units = Units(options);
  // Several units: each is forked now, while this is the only thread, and
  // runs as a run of its own would.
  std::optional<FleetRun> fleet;
  if (!units.empty()) {
    fleet = StartFleet(units, [&](std::size_t i) {
      CatchSignals();  // pipes of its own: the run's are the parent's
      StartBackgroundErrorLog();
      End(RunOne(argc, argv, ForUnit(options, units[i]), false));
    });
  }
  // Standard error never holds the program up (a pipe nobody reads, with
  // VANTORQ_TRACE=1): its lines go through a thread of their own.
  StartBackgroundErrorLog();
  if (parsed) {
    if (!g_usageError.empty()) WriteErrorLine(g_usageError);
    End(*parsed);
  }
  if (options.all || options.ports.size() > 1) {
    if (units.empty()) {
      WriteErrorLine("vantorq-ctl: no device answered: no port of COM1 to COM99 is there");
      End(kNotConfirmed);
    }
    FleetRequest request;
    request.json = options.json;
    request.answering = options.all;
    request.signalFd = g_eventPipe[0];
    request.stopFd = StopFd();
    for (const std::string& word : options.words) request.command += (request.command.empty() ? "" : " ") + word;
    End(FinishFleet(std::move(*fleet), request));
  }
  End(RunOne(argc, argv, options, closed[1]));
}
