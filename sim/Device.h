#pragma once
// What the video processor does with the command lines it receives, and
// what it answers: the simulated device's logic, free of any line or timing.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "EdidFactory.h"

namespace vantorq::sim {

// What a faulty unit does with a user EDID it receives whole.
enum class UserEdidFault {
  None,
  OneByteChanged,  // stored with byte 131 changed (a flipped cell)
  Dropped,         // not stored at all (a full or failing buffer)
};

class CDevice {
 public:
  // `log` receives one line per command received, per line answered and
  // per input refused; it may be empty.
  explicit CDevice(std::function<void(const std::string&)> log = {});

  // Takes bytes from the line; returns the lines to send back, each with
  // its CR LF, in order.
  std::vector<std::string> Receive(std::span<const std::uint8_t> bytes);

  // The status lines "GET STA" is answered with.
  std::vector<std::string> StatusLines() const;

  int Preset() const { return m_preset; }
  int Scaler() const { return m_scaler; }
  int Enhancement() const { return m_enhancement; }
  const Edid& EdidOf(int preset) const { return m_presets.at(static_cast<std::size_t>(preset)); }
  const Edid& OutputEdid() const { return m_output; }
  // Every command line received, without its CR LF.
  const std::vector<std::string>& Commands() const { return m_commands; }

  // Faults a test asks for: settings answered but never applied (a unit
  // that does not confirm), and a noise byte inside every EDID reply.
  void IgnoreSettings(bool ignore) { m_ignoreSettings = ignore; }
  void GarbleReplies(bool garble) { m_garble = garble; }
  void SetUserEdidFault(UserEdidFault fault) { m_userEdidFault = fault; }

  // A line longer than this is not a command; it is dropped.
  static constexpr std::size_t kMaxLine = 4096;

 private:
  void Command(std::string_view line, std::vector<std::string>& out);
  bool StoreUserEdid(std::string_view hex);
  void Log(const std::string& text) const;
  std::string EdidReply(std::string_view head, const Edid& edid) const;

  std::function<void(const std::string&)> m_log;
  std::string m_line;
  bool m_overlong = false;
  int m_preset = 7;
  int m_scaler = 1;       // as the device counts: 1..4
  int m_enhancement = 0;  // 0..3
  std::array<Edid, 16> m_presets{};
  Edid m_output{};
  std::vector<std::string> m_commands;
  bool m_ignoreSettings = false;
  bool m_garble = false;
  UserEdidFault m_userEdidFault = UserEdidFault::None;
};

}  // namespace vantorq::sim
