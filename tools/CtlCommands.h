#pragma once
// What each vantorq-ctl command does with the device, once its command
// line has been taken: the steps, their checks, and what is said of them.
// The program's main() parses and hands over; the tests drive these on a
// line double.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CtlSession.h"

namespace vantorq::tool {

// Exit statuses; of several units, the highest.
inline constexpr int kDone = 0;
inline constexpr int kNotConfirmed = 1;  // no answer, not confirmed, cut or garbled, not verified
inline constexpr int kCannot = 2;        // the command line or a file
inline constexpr int kCannotOpen = 3;    // the port: missing, busy, permission, refused
inline constexpr int kNotReported = 4;   // done and confirmed, but not printed

// Larger than any EDID input (a hex dump with its text column) and than
// any setup file (about 1 KB as written).
inline constexpr std::size_t kMaxEdidInput = std::size_t{1} << 20;
inline constexpr std::size_t kMaxSetupFile = std::size_t{64} << 10;

struct CtlOptions {
  std::optional<std::string> port;  // the one unit's port, as given
  std::vector<std::string> ports;   // --port's list, ranges expanded
  bool json = false;
  bool all = false;  // find --all
  std::chrono::milliseconds timeout{500};
  std::optional<std::string> output;
  bool verify = true;
  bool noVerifyGiven = false;
  std::vector<std::string> words;  // the command and its arguments, checked
};

// Where a command's words go.
struct CtlStreams {
  int results = 1;             // results, one line each (an EDID as its bytes)
  bool resultsClosed = false;  // it was closed when the program started
  int stopFd = -1;             // readable once a signal came
  // A reason, without the program's name; standard error by default.
  std::function<void(const std::string&)> say;
};

// --port's value: COMn, COMa-COMb or a device path (with a /), separated
// by commas.
// False with the part that is wrong said in `error`.
bool ExpandPorts(std::string_view text, std::vector<std::string>& ports, std::string& error);

// What a command found, for --json: each field only once it is known.
struct CtlResult {
  std::optional<int> preset;
  std::optional<int> scaler;
  std::optional<int> enhancement;
  std::optional<std::string> file;
  std::optional<std::size_t> bytes;
  std::optional<bool> verified;
  std::string error;  // the last reason said
};

// One unit's result as a JSON object, with stable keys.
std::string ResultJson(const std::string& port, const std::string& command, int status, const CtlResult& result);
// A string as a JSON string, quotes included.
std::string JsonString(std::string_view text);

class CCtlCommands {
 public:
  // `port` and `portName`: the port given ("COM5", or a device path); a
  // search when the options name none.
  CCtlCommands(CCtlSession& session, const CtlOptions& options, CtlStreams streams, int port, std::string portName);

  // Runs the command of the options' words; its exit status.
  int Run();

 private:
  enum class Setting { Preset, Scaler, Enhancement };

  int Find();
  int Status();
  int Get(std::string_view what);
  int Set(std::string_view what, std::string_view value);
  int ReadEdid();
  int WriteUserEdid(const std::string& path);
  int SaveSetup(const std::string& path);
  int ApplySetup(const std::string& path);

  int Connect();
  bool SendSetting(Setting setting, int value, std::string& why);
  std::string RestorePreset(int preset);
  int Say(const std::string& text, int status);
  // Writes to the results; empty when written whole, the reason otherwise.
  std::string Write(std::string_view text) const;
  // A command's result line: kDone, or kNotReported with the result said
  // as a reason.
  int Report(const std::string& text);
  bool ReadInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& raw, std::string& why) const;
  bool LoadEdid(const std::string& path, EdidBuffer& edid, std::string& why) const;

  int Dispatch();
  void Keep(const DeviceState& state);

  CCtlSession& m_session;
  const CtlOptions& m_options;
  CtlStreams m_streams;
  int m_port;
  std::string m_portName;  // empty until a port is known
  bool m_restored = false;
  CtlResult m_result;
};

}  // namespace vantorq::tool
