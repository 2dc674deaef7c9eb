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
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "ComPorts.h"
#include "CtlSession.h"
#include "EdidFile.h"
#include "FileIo.h"
#include "OpenFailure.h"
#include "Presets.h"
#include "SetupFile.h"
#include "Trace.h"

namespace {

using namespace vantorq;
using tool::CCtlSession;
using tool::DeviceState;
using std::chrono::milliseconds;

constexpr const char* kUsage =
    "usage: vantorq-ctl [--port COMn|DEVICE] [--timeout SECONDS] COMMAND\n"
    "\n"
    "  find                          search COM1..COM99; print the port that answered\n"
    "  status                        the device's preset, scaler mode and enhancement\n"
    "  set preset N                  N 0..15, then check what the device reports\n"
    "  set scaler N                  N 0..3 (BYPASS, 4K->2K, 2K->4K, HDBT C mode)\n"
    "  set enhancement N             N 0..3 (Off, Weak, Medium, Strong)\n"
    "  read-edid output [-o FILE]    the output port's EDID, 256 bytes (binary)\n"
    "  read-edid input N [-o FILE]   the EDID of preset N of input 1\n"
    "  write-user-edid FILE          FILE (binary or hex) into the user EDID (preset 15)\n"
    "  save-setup FILE               preset, scaler, enhancement and user EDID to FILE\n"
    "  apply-setup FILE              the same, from FILE, into the device, then checked\n"
    "\n"
    "Without --port the ports are searched first, as the console's \"Search Machine\"\n"
    "does. COMn is found as the console finds it (VANTORQ_PORT_DIR, else the fixed\n"
    "table); a device path (/dev/ttyUSB0) is taken as it is. --timeout changes how\n"
    "long the device may take to answer (default 0.5 s). --list-ports prints the\n"
    "COM names whose device exists.\n"
    "\n"
    "Exit status: 0 done and confirmed; 1 the device did not answer or confirm, a\n"
    "reply was cut or garbled, or no device was found; 2 a wrong command line, a\n"
    "port that cannot be opened, or a file that cannot be read or written.\n";

constexpr int kDone = 0;
constexpr int kNotConfirmed = 1;
constexpr int kCannot = 2;

int Say(const std::string& text, int status) {
  WriteErrorLine("vantorq-ctl: " + text);
  return status;
}

int UsageError(const std::string& why) {
  std::fprintf(stderr, "vantorq-ctl: %s\n%s", why.c_str(), kUsage);
  return kCannot;
}

bool Number(std::string_view text, int low, int high, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

std::string Named(std::string_view what, int value, std::span<const std::string_view> names) {
  const bool known = value >= 0 && value < static_cast<int>(names.size());
  return std::string(what) + " " + std::to_string(value) + " " +
         (known ? std::string(names[static_cast<std::size_t>(value)]) : std::string("(none)"));
}

std::string Preset(int n) { return Named("preset", n, protocol::kPresetNames); }
std::string Scaler(int n) { return Named("scaler", n, protocol::kScalerModeNames); }
std::string Enhancement(int n) { return Named("enhancement", n, protocol::kEnhancementNames); }

bool Print(const std::string& line) {
  return std::fputs((line + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

// A path given as the port: every COM name leads to it.
class CPathOpener final : public IPortOpener {
 public:
  explicit CPathOpener(std::string path) : m_path(std::move(path)) {}
  std::unique_ptr<ISerialPort> Open(std::string_view, OpenAttempt& attempt) override {
    return OpenPosixPort(m_path, attempt);
  }

 private:
  std::string m_path;
};

struct Options {
  std::string port;
  milliseconds timeout{500};
  std::string output;
  std::vector<std::string> words;
};

// Reads an EDID to write: binary or hex text, beginning with the header.
bool LoadEdid(const std::string& path, EdidBuffer& edid, std::string& why) {
  std::vector<std::uint8_t> raw;
  bool more = false;
  int error = 0;
  if (!ReadEdidInput(path, 1 << 20, raw, more, error)) {
    why = EscapeControls(path) + ": " + std::strerror(error);
    return false;
  }
  const EdidInput input = InterpretEdidInput(raw);
  if (!input.problem.empty() || input.form == EdidInput::Form::Unknown) {
    why = EscapeControls(path) + ": " + (input.problem.empty() ? "no EDID in it" : input.problem);
    return false;
  }
  if (!BeginsWithEdidHeader(input.bytes)) {
    why = DescribeNotEdid(EscapeControls(path), input.bytes) + " Nothing was sent to the device.";
    return false;
  }
  edid = EdidFromFileBytes(input.bytes);
  return true;
}

enum class Setting { Preset, Scaler, Enhancement };

class CCommands {
 public:
  CCommands(CCtlSession& session, const Options& options) : m_session(session), m_options(options) {}

  // Opens the port given, or searches for the device.
  int Connect() {
    if (!m_options.port.empty()) {
      if (m_session.Open(m_port)) return kDone;
      return Say("cannot open " + DescribeOpenFailure(static_cast<unsigned>(m_port), m_session.LastOpen()), kCannot);
    }
    std::string detail;
    if (m_session.Find(m_port, detail)) return kDone;
    if (m_session.Interrupted()) return Say("interrupted", kNotConfirmed);
    return Say("no device answered on COM1 to COM99" + (detail.empty() ? std::string() : "\n" + detail), kNotConfirmed);
  }
  void SetPort(int port) { m_port = port; }

  int Find() {
    const int status = Connect();
    if (status != kDone) return status;
    return Print("COM" + std::to_string(m_port)) ? kDone : kCannot;
  }

  int Status() {
    if (const int status = Connect(); status != kDone) return status;
    DeviceState state;
    std::string why;
    if (!m_session.AskState(state, why)) return Say("status: " + why, kNotConfirmed);
    return Print(Preset(state.preset) + "\n" + Scaler(state.scaler) + "\n" + Enhancement(state.enhancement)) ? kDone
                                                                                                            : kCannot;
  }

  int Set(std::string_view what, std::string_view value) {
    struct Kind {
      std::string_view name;
      Setting setting;
      int high;
      int DeviceState::*reported;
      std::string (*shown)(int);
    };
    static const std::array<Kind, 3> kinds{{{"preset", Setting::Preset, 15, &DeviceState::preset, &Preset},
                                           {"scaler", Setting::Scaler, 3, &DeviceState::scaler, &Scaler},
                                           {"enhancement", Setting::Enhancement, 3, &DeviceState::enhancement, &Enhancement}}};
    const auto* kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return k.name == what; });
    if (kind == kinds.end()) return UsageError("set what? preset, scaler or enhancement, not '" + EscapeControls(what) + "'");
    int n = 0;
    if (!Number(value, 0, kind->high, n)) {
      return UsageError(std::string(what) + " takes a number from 0 to " + std::to_string(kind->high) + ", not '" +
                        EscapeControls(value) + "'");
    }
    if (const int status = Connect(); status != kDone) return status;
    std::string why;
    if (!SendSetting(kind->setting, n, why)) {
      return Say(kind->shown(n) + ": not sent: " + why, kNotConfirmed);
    }
    DeviceState state;
    if (!m_session.AskState(state, why)) return Say(kind->shown(n) + ": not confirmed: " + why, kNotConfirmed);
    if (state.*kind->reported != n) {
      return Say(kind->shown(n) + ": not confirmed: the device reports " + kind->shown(state.*kind->reported),
                 kNotConfirmed);
    }
    return Print(kind->shown(n)) ? kDone : kCannot;
  }

  int ReadEdid(const std::vector<std::string>& words) {
    int preset = 0;
    if (words.size() == 2 && words[1] == "output") {
      preset = -1;
    } else if (words.size() != 3 || words[1] != "input" || !Number(words[2], 0, 15, preset)) {
      return UsageError("read-edid output, or read-edid input N with N from 0 to 15");
    }
    if (const int status = Connect(); status != kDone) return status;
    // As the page asks: the bypass preset's EDID is the output's.
    const bool output = preset <= 0;
    const auto outputCommand = protocol::OutputEdidReadCommand();
    const auto inputCommand = protocol::InputEdidReadCommand(std::max(preset, 1));
    EdidBuffer edid{};
    std::string why;
    const bool read = output ? m_session.ReadEdid(outputCommand, edid, why) : m_session.ReadEdid(inputCommand, edid, why);
    if (!read) return Say("read-edid: " + why + " Nothing was written.", kNotConfirmed);
    if (!m_options.output.empty()) {
      int error = 0;
      if (!ReplaceFile(m_options.output, edid, &error)) return Say(EscapeControls(m_options.output) + ": " + std::strerror(error), kCannot);
      return kDone;
    }
    if (std::fwrite(edid.data(), 1, edid.size(), stdout) != edid.size() || std::fflush(stdout) != 0) {
      return Say(std::string("standard output: ") + std::strerror(errno), kCannot);
    }
    return kDone;
  }

  int WriteUserEdid(const std::string& path) {
    EdidBuffer edid{};
    std::string why;
    if (!LoadEdid(path, edid, why)) return Say(why, kCannot);
    if (const int status = Connect(); status != kDone) return status;
    if (!m_session.Send(protocol::UserEdidWriteCommand(edid), why)) {
      return Say("the EDID was not written to the device: " + why, kNotConfirmed);
    }
    return Print("user EDID written: 790 bytes sent whole; choose preset 15 (User_EDID) to use it") ? kDone : kCannot;
  }

  int SaveSetup(const std::string& path) {
    if (const int status = Connect(); status != kDone) return status;
    DeviceState state;
    std::string why;
    if (!m_session.AskState(state, why)) return Say("save-setup: " + why, kNotConfirmed);
    if (state.preset > 15 || state.scaler < 0 || state.scaler > 3 || state.enhancement > 3) {
      return Say("save-setup: the device reports values no setup holds: " + Preset(state.preset) + ", " +
                     Scaler(state.scaler) + ", " + Enhancement(state.enhancement),
                 kNotConfirmed);
    }
    Setup setup{state.preset, state.scaler, state.enhancement, {}};
    // Reading preset 15 may switch the device to it: the preset it had is
    // set again, whatever the read gave.
    const bool read = m_session.ReadEdid(protocol::InputEdidReadCommand(protocol::kUserPreset), setup.userEdid, why);
    std::string restore;
    const bool restored = SendSetting(Setting::Preset, state.preset, restore);
    if (!read) return Say("save-setup: the user EDID: " + why, kNotConfirmed);
    if (!restored) return Say("save-setup: " + Preset(state.preset) + " not set again: " + restore, kNotConfirmed);
    const std::string text = FormatSetup(setup);
    int error = 0;
    if (!ReplaceFile(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &error)) {
      return Say(EscapeControls(path) + ": " + std::strerror(error), kCannot);
    }
    return Print("saved " + EscapeControls(path) + ": " + Preset(setup.preset) + ", " + Scaler(setup.scaler) + ", " +
                 Enhancement(setup.enhancement) + ", user EDID")
               ? kDone
               : kCannot;
  }

  int ApplySetup(const std::string& path) {
    std::vector<std::uint8_t> raw;
    bool more = false;
    int error = 0;
    if (!ReadEdidInput(path, 1 << 20, raw, more, error)) return Say(EscapeControls(path) + ": " + std::strerror(error), kCannot);
    const SetupParse parse = ParseSetup({reinterpret_cast<const char*>(raw.data()), raw.size()});
    if (!parse.ok) return Say(EscapeControls(path) + ": " + EscapeControls(parse.error), kCannot);
    const Setup& s = parse.setup;
    if (const int status = Connect(); status != kDone) return status;
    std::string why;
    if (!SendSetting(Setting::Enhancement, s.enhancement, why) || !SendSetting(Setting::Scaler, s.scaler, why) ||
        !m_session.Send(protocol::UserEdidWriteCommand(s.userEdid), why) ||
        !SendSetting(Setting::Preset, s.preset, why)) {
      return Say("apply-setup: not sent whole: " + why, kNotConfirmed);
    }
    DeviceState state;
    if (!m_session.AskState(state, why)) return Say("apply-setup: not confirmed: " + why, kNotConfirmed);
    std::string differ;
    if (state.preset != s.preset) differ += ", " + Preset(state.preset);
    if (state.scaler != s.scaler) differ += ", " + Scaler(state.scaler);
    if (state.enhancement != s.enhancement) differ += ", " + Enhancement(state.enhancement);
    if (!differ.empty()) return Say("apply-setup: not confirmed: the device reports" + differ.substr(1), kNotConfirmed);
    return Print("applied " + EscapeControls(path) + ": " + Preset(s.preset) + ", " + Scaler(s.scaler) + ", " + Enhancement(s.enhancement) +
                 ", user EDID")
               ? kDone
               : kCannot;
  }

 private:
  // The page's command for `value`.
  bool SendSetting(Setting setting, int value, std::string& why) {
    switch (setting) {
      case Setting::Preset:
        return m_session.Send(protocol::PresetCommand(value), why);
      case Setting::Scaler:
        return m_session.Send(protocol::ScalerCommand(value), why);
      case Setting::Enhancement:
        break;
    }
    return m_session.Send(protocol::EnhancementCommand(value), why);
  }

  CCtlSession& m_session;
  const Options& m_options;
  int m_port = 1;
};

// SIGINT, SIGTERM, SIGHUP and SIGQUIT end the waits, so that the port and
// its lock are released as after a normal end; SIGPIPE is ignored.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int sig) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int main(int argc, char** argv) {
  SetProgramName("vantorq-ctl");
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view name, std::string& out) {
      if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        out = std::string(arg.substr(name.size() + 1));
        return true;
      }
      if (arg != name || i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kDone;
    }
    if (arg == "--version") {
      std::printf("vantorq-ctl %s\n", VANTORQ_VERSION);
      return kDone;
    }
    if (arg == "--list-ports") {
      // For completion: the COM names whose device is there.
      for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
        if (::access(ComDevicePath(n).c_str(), F_OK) == 0) std::printf("COM%u\n", n);
      }
      return kDone;
    }
    if (value("--port", options.port)) continue;
    if (value("--timeout", v)) {
      double seconds = 0;
      const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), seconds);
      if (error != std::errc() || end != v.data() + v.size() || !(seconds > 0) || seconds > 3600) {
        return UsageError("--timeout takes seconds, more than 0, not '" + EscapeControls(v) + "'");
      }
      options.timeout = milliseconds(static_cast<long>(std::ceil(seconds * 1000)));
      continue;
    }
    if (value("-o", options.output) || value("--output", options.output)) continue;
    if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + EscapeControls(arg) + "'");
    options.words.emplace_back(arg);
  }
  if (options.words.empty()) return UsageError("no command given");
  const auto& words = options.words;
  const std::string& command = words[0];
  // Each command and the words it takes (itself included); 0: checked by it.
  static const std::map<std::string_view, std::size_t> kWords{
      {"find", 1}, {"status", 1}, {"set", 3}, {"read-edid", 0},
      {"write-user-edid", 2}, {"save-setup", 2}, {"apply-setup", 2}};
  const auto known = kWords.find(command);
  if (known == kWords.end()) return UsageError("unknown command '" + EscapeControls(command) + "'");
  if (known->second != 0 && words.size() != known->second) {
    return UsageError(command == "set" ? "set preset|scaler|enhancement N" : command + ": wrong number of arguments");
  }
  if (!options.output.empty() && command != "read-edid") return UsageError("-o goes with read-edid");

  // The port: a COM name as the console finds it, or a device path.
  std::shared_ptr<IPortOpener> opener = PosixPortOpener();
  int port = 1;
  if (!options.port.empty()) {
    const unsigned com = ComPortFromName(options.port);
    if (options.port.find('/') != std::string::npos) {
      opener = std::make_shared<CPathOpener>(options.port);
    } else if (com != 0) {
      port = static_cast<int>(com);
    } else {
      return UsageError("--port takes COM1..COM99 or a device path, not '" + EscapeControls(options.port) + "'");
    }
  }

  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  CCtlSession session(opener, options.timeout);
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(sig, OnSignal);
  }
  QSocketNotifier interrupts(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&interrupts, &QSocketNotifier::activated, [&] {
    unsigned char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1) {
    }
    session.Interrupt();
  });

  CCommands commands(session, options);
  commands.SetPort(port);
  int status = kDone;
  if (command == "find") {
    status = commands.Find();
  } else if (command == "status") {
    status = commands.Status();
  } else if (command == "set") {
    status = commands.Set(words[1], words[2]);
  } else if (command == "read-edid") {
    status = commands.ReadEdid(words);
  } else if (command == "write-user-edid") {
    status = commands.WriteUserEdid(words[1]);
  } else if (command == "save-setup") {
    status = commands.SaveSetup(words[1]);
  } else {
    status = commands.ApplySetup(words[1]);
  }
  return session.Interrupted() && status == kDone ? kNotConfirmed : status;
}
