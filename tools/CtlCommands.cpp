#include "CtlCommands.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "ComPorts.h"
#include "Commands.h"
#include "EdidFile.h"
#include "FileIo.h"
#include "NetworkLine.h"
#include "OpenFailure.h"
#include "Presets.h"
#include "SetupFile.h"
#include "Trace.h"

namespace vantorq::tool {

namespace {

// Reasons come as clauses ("no answer") or sentences ("... within 500 ms.",
// "... still plugged in?"): each made the one its place wants.
std::string Sentence(const std::string& why) {
  const bool ended = !why.empty() && (why.back() == '.' || why.back() == '?');
  return ended ? why : why + ".";
}
std::string Clause(std::string why) {
  if (!why.empty() && why.back() == '.') why.pop_back();
  return why;
}

std::string Named(std::string_view what, int value, std::span<const std::string_view> names) {
  const bool known = value >= 0 && value < static_cast<int>(names.size());
  return std::string(what) + " " + std::to_string(value) + " " +
         (known ? std::string(names[static_cast<std::size_t>(value)]) : std::string("(none)"));
}

std::string Preset(int n) { return Named("preset", n, protocol::kPresetNames); }
std::string Scaler(int n) { return Named("scaler", n, protocol::kScalerModeNames); }
std::string Enhancement(int n) { return Named("enhancement", n, protocol::kEnhancementNames); }

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

int Number(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

std::string Shown(const std::string& path, bool output) {
  if (path == "-") return output ? "standard output" : "standard input";
  return EscapeControls(path);
}

bool Interrupted(const std::string& why) { return why.rfind("interrupted", 0) == 0; }

}  // namespace

bool ExpandPorts(std::string_view text, std::vector<std::string>& ports, std::string& error) {
  ports.clear();
  const auto add = [&](const std::string& port) {
    if (std::find(ports.begin(), ports.end(), port) != ports.end()) {
      error = port + " is given twice";
      return false;
    }
    ports.push_back(port);
    return true;
  };
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const std::string shown = Excerpt(item);
    if (item.empty()) {
      error = "an empty part in the list";
      return false;
    }
    if (LooksLikeNetworkAddress(item)) {
      NetworkAddress address;
      std::string problem;
      if (!ParseNetworkAddress(item, address, problem)) {
        error = shown + ": " + problem;
        return false;
      }
      if (!add(std::string(item))) return false;
    } else if (item.find('/') != std::string_view::npos) {
      if (!add(std::string(item))) return false;
    } else if (const auto dash = item.find('-'); dash != std::string_view::npos && StrictComNumber(item.substr(0, dash)) != 0) {
      const unsigned first = StrictComNumber(item.substr(0, dash));
      const unsigned last = StrictComNumber(item.substr(dash + 1));
      if (first == 0 || last == 0) {
        error = shown + ": a range is COMa-COMb, both ends from COM1 to COM99 (COM34-COM43)";
        return false;
      }
      if (first > last) {
        error = shown + ": the range runs backwards";
        return false;
      }
      for (unsigned n = first; n <= last; ++n) {
        if (!add("COM" + std::to_string(n))) return false;
      }
    } else if (const unsigned com = StrictComNumber(item); com != 0) {
      if (!add("COM" + std::to_string(com))) return false;
    } else {
      error = shown + " is no port: COM1..COM99, COMa-COMb, a device path (with a /), socket://HOST:PORT or rfc2217://HOST:PORT";
      return false;
    }
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string ResultJson(const std::string& port, const std::string& command, int status, const CtlResult& r) {
  std::string json = "{\"port\": " + JsonString(port) + ", \"command\": " + JsonString(command) +
                     ", \"ok\": " + (status == kDone ? "true" : "false") + ", \"exit\": " + std::to_string(status);
  const auto setting = [&](const char* key, const std::optional<int>& value, std::span<const std::string_view> names) {
    json += std::string(", \"") + key + "\": " + (value ? std::to_string(*value) : "null");
    const bool named = value && *value >= 0 && *value < static_cast<int>(names.size());
    json += std::string(", \"") + key + "_name\": " + (named ? JsonString(names[static_cast<std::size_t>(*value)]) : "null");
  };
  setting("preset", r.preset, protocol::kPresetNames);
  setting("scaler", r.scaler, protocol::kScalerModeNames);
  setting("enhancement", r.enhancement, protocol::kEnhancementNames);
  json += ", \"file\": " + (r.file ? JsonString(*r.file) : std::string("null"));
  json += ", \"bytes\": " + (r.bytes ? std::to_string(*r.bytes) : std::string("null"));
  json += ", \"verified\": " + (r.verified ? std::string(*r.verified ? "true" : "false") : std::string("null"));
  json += ", \"error\": " + (r.error.empty() ? std::string("null") : JsonString(r.error)) + "}";
  return json;
}

CCtlCommands::CCtlCommands(CCtlSession& session, const CtlOptions& options, CtlStreams streams, int port,
                           std::string portName)
    : m_session(session), m_options(options), m_streams(std::move(streams)), m_port(port), m_portName(std::move(portName)) {}

int CCtlCommands::Run() {
  int status = Dispatch();
  if (!m_options.json) return status;
  std::string command;
  for (const std::string& word : m_options.words) command += (command.empty() ? "" : " ") + word;
  const std::string json = ResultJson(m_portName, command, status, m_result) + "\n";
  const std::string why = Write(json);
  if (!why.empty() && status == kDone) status = Say(why + ": done, but not reported there: " + json, kNotReported);
  return status;
}

void CCtlCommands::Keep(const DeviceState& state) {
  m_result.preset = state.preset;
  m_result.scaler = state.scaler;
  m_result.enhancement = state.enhancement;
}

int CCtlCommands::Dispatch() {
  const auto& w = m_options.words;
  const std::string& command = w[0];
  if (command == "find") return Find();
  if (command == "status") return Status();
  if (command == "get") return Get(w[1]);
  if (command == "set") return Set(w[1], w[2]);
  if (command == "read-edid") return ReadEdid();
  if (command == "write-user-edid") return WriteUserEdid(w[1]);
  if (command == "save-setup") return SaveSetup(w[1]);
  return ApplySetup(w[1]);
}

int CCtlCommands::Say(const std::string& text, int status) {
  // Every reason names the unit it is about, once a unit is known.
  const std::string line = m_portName.empty() ? text : m_portName + ": " + text;
  m_result.error = text;
  if (m_streams.say) {
    m_streams.say(line);
  } else {
    WriteErrorLine("vantorq-ctl: " + line);
  }
  return status;
}

std::string CCtlCommands::Write(std::string_view text) const {
  if (m_streams.resultsClosed) return "standard output is closed";
  if (WriteAllTo(m_streams.results, Bytes(text), m_streams.stopFd)) return {};
  return errno == EINTR ? "interrupted while writing to standard output"
                        : std::string("standard output: ") + std::strerror(errno);
}

int CCtlCommands::Report(const std::string& text) {
  // With --json the result is the object Run writes.
  if (m_options.json) return kDone;
  const std::string why = Write(text + "\n");
  if (why.empty()) return kDone;
  return Say(why + ": done, but not reported there: " + text, kNotReported);
}

bool CCtlCommands::ReadInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& raw,
                             std::string& why) const {
  bool more = false;
  int error = 0;
  if (!ReadEdidInput(path, limit, raw, more, error, m_streams.stopFd)) {
    why = error == EINTR ? "interrupted while reading " + Shown(path, false) : Shown(path, false) + ": " + std::strerror(error);
    return false;
  }
  if (more) {
    why = Shown(path, false) + ": larger than " + std::to_string(limit >> 10) + " KiB";
    return false;
  }
  return true;
}

bool CCtlCommands::LoadEdid(const std::string& path, EdidBuffer& edid, std::string& why) const {
  std::vector<std::uint8_t> raw;
  if (!ReadInput(path, kMaxEdidInput, raw, why)) {
    if (!Interrupted(why) && why.find("larger than") != std::string::npos) {
      why += ": an EDID for the unit holds 128 or 256 bytes";
    }
    return false;
  }
  const EdidInput input = InterpretEdidInput(raw);
  if (!input.problem.empty() || input.form == EdidInput::Form::Unknown) {
    why = Shown(path, false) + ": " + (input.problem.empty() ? "no EDID in it" : input.problem);
    return false;
  }
  if (!BeginsWithEdidHeader(input.bytes)) {
    why = DescribeNotEdid(Shown(path, false), input.bytes);
    if (why.back() == '.') why.pop_back();
    return false;
  }
  // 128 bytes are completed with 0xFF, as the console completes them;
  // any other size is not a whole EDID for the unit's 256-byte slot.
  if (input.bytes.size() != kEdidSize && input.bytes.size() != kEdidSize / 2) {
    why = Shown(path, false) + " holds " + std::to_string(input.bytes.size()) +
          " bytes: an EDID for the unit holds 128 (the base block) or 256";
    return false;
  }
  edid = EdidFromFileBytes(input.bytes);
  return true;
}

int CCtlCommands::Connect() {
  if (m_session.Interrupted()) return Say("interrupted; nothing was sent", kNotConfirmed);
  if (m_options.port) {
    if (m_session.Open(m_port)) return kDone;
    const OpenAttempt& attempt = m_session.LastOpen();
    // A signal that ended the wait for a gateway's connection.
    if (attempt.error == EINTR) return Say("interrupted; nothing was sent", kNotConfirmed);
    const bool com = m_portName.rfind("COM", 0) == 0;
    return Say("cannot open" + (com ? " " + (attempt.path.empty() ? std::string("(no device)") : EscapeControls(attempt.path)) : std::string()) +
                   ": " + OpenFailureReason(attempt),
               kCannotOpen);
  }
  std::string detail;
  if (m_session.Find(m_port, detail)) {
    m_portName = "COM" + std::to_string(m_port);
    return kDone;
  }
  if (m_session.Interrupted()) return Say("interrupted", kNotConfirmed);
  return Say("no device answered on COM1 to COM99" + (detail.empty() ? std::string() : "\n" + detail), kNotConfirmed);
}

bool CCtlCommands::SendSetting(Setting setting, int value, std::string& why) {
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

std::string CCtlCommands::RestorePreset(int preset) {
  // Even after a signal; a further one ends this too.
  m_session.AllowCleanup();
  std::string why;
  m_restored = !m_session.LineFailed() && SendSetting(Setting::Preset, preset, why);
  if (m_restored) return Preset(preset) + " set again";
  return Preset(preset) + " not set again: " + (why.empty() ? m_session.LineFailure() : why);
}

int CCtlCommands::Find() {
  if (const int status = Connect(); status != kDone) return status;
  if (!m_options.port) return Report(m_portName);
  // The port named is probed, and named only when the device answered.
  std::string why;
  if (!m_session.Probe(why)) return Say("find: " + why, kNotConfirmed);
  return Report(m_portName);
}

int CCtlCommands::Status() {
  if (const int status = Connect(); status != kDone) return status;
  DeviceState state;
  std::string why;
  if (!m_session.AskState(state, why)) return Say("status: " + why, kNotConfirmed);
  Keep(state);
  return Report(Preset(state.preset) + "\n" + Scaler(state.scaler) + "\n" + Enhancement(state.enhancement));
}

int CCtlCommands::Get(std::string_view what) {
  if (const int status = Connect(); status != kDone) return status;
  DeviceState state;
  std::string why;
  if (!m_session.AskState(state, why)) return Say("get " + std::string(what) + ": " + why, kNotConfirmed);
  Keep(state);
  const int value = what == "preset" ? state.preset : what == "scaler" ? state.scaler : state.enhancement;
  return Report(std::to_string(value));
}

int CCtlCommands::Set(std::string_view what, std::string_view value) {
  struct Kind {
    std::string_view name;
    Setting setting;
    int DeviceState::*reported;
    std::string (*shown)(int);
  };
  static const std::array<Kind, 3> kinds{{{"preset", Setting::Preset, &DeviceState::preset, &Preset},
                                         {"scaler", Setting::Scaler, &DeviceState::scaler, &Scaler},
                                         {"enhancement", Setting::Enhancement, &DeviceState::enhancement, &Enhancement}}};
  const auto* kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return k.name == what; });
  const int n = Number(value);
  if (const int status = Connect(); status != kDone) return status;
  std::string why;
  if (!SendSetting(kind->setting, n, why)) return Say(kind->shown(n) + ": not sent: " + why, kNotConfirmed);
  DeviceState state;
  if (!m_session.AskState(state, why)) return Say(kind->shown(n) + ": not confirmed: " + why, kNotConfirmed);
  Keep(state);
  if (state.*kind->reported != n) {
    return Say(kind->shown(n) + ": not confirmed: the device reports " + kind->shown(state.*kind->reported),
               kNotConfirmed);
  }
  return Report(kind->shown(n));
}

int CCtlCommands::ReadEdid() {
  const auto& w = m_options.words;
  // As the page asks: the bypass preset's EDID is the output's.
  const int preset = w[1] == "output" ? 0 : Number(w[2]);
  const std::string output = m_options.output.value_or("-");
  if (output == "-") {
    // Told before the device is asked: nothing would take the bytes.
    if (m_streams.resultsClosed) return Say("read-edid: standard output is closed: give -o FILE", kCannot);
    if (::isatty(m_streams.results) != 0) {
      return Say("read-edid: standard output is a terminal, and an EDID is 256 binary bytes that a terminal would "
                 "take as commands: give -o FILE, or pipe it (| xxd)",
                 kCannot);
    }
  }
  if (const int status = Connect(); status != kDone) return status;
  const auto outputCommand = protocol::OutputEdidReadCommand();
  const auto inputCommand = protocol::InputEdidReadCommand(std::max(preset, 1));
  EdidBuffer edid{};
  std::string why;
  const bool read = preset == 0 ? m_session.ReadEdid(outputCommand, edid, why) : m_session.ReadEdid(inputCommand, edid, why);
  if (!read) return Say("read-edid: " + Sentence(why) + " Nothing was written.", kNotConfirmed);
  OutputResult written;
  if (output == "-") {
    if (!WriteAllTo(m_streams.results, edid, m_streams.stopFd)) {
      written.why = errno == EINTR ? "interrupted" : std::strerror(errno);
    } else {
      written.written = true;
    }
  } else {
    written = WriteOutput(output, edid, {m_streams.stopFd, true});
  }
  if (!written.written) return Say(Shown(output, true) + ": " + written.why + "; the EDID was not written", kCannot);
  m_result.file = output;
  m_result.bytes = edid.size();
  return kDone;
}

int CCtlCommands::WriteUserEdid(const std::string& path) {
  EdidBuffer edid{};
  std::string why;
  if (!LoadEdid(path, edid, why)) {
    return Say(why + ". Nothing was sent to the device.", Interrupted(why) ? kNotConfirmed : kCannot);
  }
  if (const int status = Connect(); status != kDone) return status;
  const UserEdidOutcome outcome = m_session.WriteUserEdid(edid, m_options.verify);
  m_result.file = path;
  if (outcome.kind != UserEdidOutcome::Kind::NotWritten) m_result.bytes = edid.size();
  if (outcome.kind != UserEdidOutcome::Kind::NotWritten && outcome.kind != UserEdidOutcome::Kind::Unchecked) {
    m_result.verified = outcome.kind == UserEdidOutcome::Kind::Verified;
  }
  switch (outcome.kind) {
    case UserEdidOutcome::Kind::Verified:
    case UserEdidOutcome::Kind::Unchecked:
      return Report("user EDID written: 790 bytes sent whole; choose preset 15 (User_EDID) to use it\n" +
                    (outcome.kind == UserEdidOutcome::Kind::Verified ? outcome.text
                                                                     : std::string("Not verified: --no-verify was given.")));
    case UserEdidOutcome::Kind::NotWritten:
      return Say("the EDID was not written to the device: " + outcome.text, kNotConfirmed);
    case UserEdidOutcome::Kind::Differs:
    case UserEdidOutcome::Kind::Unverified:
      break;
  }
  return Say("write-user-edid: 790 bytes sent whole, but: " + outcome.text, kNotConfirmed);
}

int CCtlCommands::SaveSetup(const std::string& path) {
  if (const int status = Connect(); status != kDone) return status;
  DeviceState state;
  std::string why;
  if (!m_session.AskState(state, why)) return Say("save-setup: " + why, kNotConfirmed);
  if (state.preset > 15 || state.scaler < 0 || state.scaler > 3 || state.enhancement > 3) {
    return Say("save-setup: the device reports values no setup holds: " + Preset(state.preset) + ", " +
                   Scaler(state.scaler) + ", " + Enhancement(state.enhancement),
               kNotConfirmed);
  }
  Keep(state);
  Setup setup{state.preset, state.scaler, state.enhancement, {}};
  // Reading preset 15 may switch the device to it: the preset it had is
  // set again on every path on which the line still works, whatever the
  // read gave, a signal included.
  const bool read = m_session.ReadEdid(protocol::InputEdidReadCommand(protocol::kUserPreset), setup.userEdid, why);
  const std::string restored = RestorePreset(state.preset);
  if (!read) return Say("save-setup: the user EDID: " + Clause(why) + "; " + restored, kNotConfirmed);
  const std::string text = FormatSetup(setup);
  OutputResult written;
  if (path == "-") {
    written.written = Write(text).empty();
    written.why = "standard output could not take it";
  } else {
    written = WriteOutput(path, Bytes(text), {m_streams.stopFd, false});
  }
  if (!written.written) {
    return Say(Shown(path, true) + ": " + written.why + "; the setup was not saved; " + restored, kCannot);
  }
  m_result.file = path;
  m_result.bytes = text.size();
  if (!m_restored) return Say("save-setup: saved " + Shown(path, true) + ", but " + restored, kNotConfirmed);
  if (path == "-") return kDone;
  return Report("saved " + EscapeControls(path) + ": " + Preset(setup.preset) + ", " + Scaler(setup.scaler) + ", " +
                Enhancement(setup.enhancement) + ", user EDID");
}

int CCtlCommands::ApplySetup(const std::string& path) {
  std::vector<std::uint8_t> raw;
  std::string why;
  if (!ReadInput(path, kMaxSetupFile, raw, why)) {
    if (!Interrupted(why) && why.find("larger than") != std::string::npos) why += ": no setup file is that large";
    return Say(why + "; nothing was sent", Interrupted(why) ? kNotConfirmed : kCannot);
  }
  const SetupParse parse = ParseSetup({reinterpret_cast<const char*>(raw.data()), raw.size()});
  if (!parse.ok) return Say(Shown(path, false) + ": " + parse.error, kCannot);
  const Setup& s = parse.setup;
  m_result.file = path;
  if (const int status = Connect(); status != kDone) return status;

  // In this order, each only once the one before left whole: when one
  // does not, what reached the unit is said.
  std::vector<std::string> sent;
  const std::vector<std::string> steps{"enhancement", "scaler", "user EDID", "preset"};
  auto stopped = [&](const std::string& reason) {
    const std::vector<std::string> rest(steps.begin() + static_cast<long>(sent.size()), steps.end());
    return Say("apply-setup: " + (sent.empty() ? std::string("nothing sent") : Listed(sent) + " sent") +
                   "; " + Listed(rest) + " not sent: " + reason,
               kNotConfirmed);
  };
  if (!SendSetting(Setting::Enhancement, s.enhancement, why)) return stopped(why);
  sent.push_back(Enhancement(s.enhancement));
  if (!SendSetting(Setting::Scaler, s.scaler, why)) return stopped(why);
  sent.push_back(Scaler(s.scaler));
  const UserEdidOutcome edid = m_session.WriteUserEdid(s.userEdid, m_options.verify);
  if (edid.kind == UserEdidOutcome::Kind::NotWritten) return stopped(edid.text);
  if (edid.kind != UserEdidOutcome::Kind::Unchecked) m_result.verified = edid.kind == UserEdidOutcome::Kind::Verified;
  sent.push_back("user EDID");
  if (!edid.Done()) {
    // Sent, but not proven kept: the preset (15, perhaps) is not switched to it.
    return stopped("the user EDID is not proven: " + edid.text);
  }
  if (!SendSetting(Setting::Preset, s.preset, why)) return stopped(why);

  DeviceState state;
  if (!m_session.AskState(state, why)) return Say("apply-setup: not confirmed: " + why, kNotConfirmed);
  Keep(state);
  std::vector<std::string> differ;
  if (state.preset != s.preset) differ.push_back(Preset(state.preset));
  if (state.scaler != s.scaler) differ.push_back(Scaler(state.scaler));
  if (state.enhancement != s.enhancement) differ.push_back(Enhancement(state.enhancement));
  if (!differ.empty()) {
    return Say("apply-setup: not confirmed: the device reports " + Listed(differ), kNotConfirmed);
  }
  return Report("applied " + Shown(path, false) + ": " + Preset(s.preset) + ", " + Scaler(s.scaler) + ", " +
                Enhancement(s.enhancement) + ", user EDID; verified: the three settings as the unit reports them, " +
                (edid.kind == UserEdidOutcome::Kind::Verified ? std::string("the user EDID as read back from preset 15")
                                                              : std::string("the user EDID not read back (--no-verify)")));
}

}  // namespace vantorq::tool
