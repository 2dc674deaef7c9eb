#include "Device.h"

#include <cstdio>

#include "Hex.h"
#include "Presets.h"

namespace vantorq::sim {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string Printable(std::string_view s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    }
  }
  return out;
}

}  // namespace

CDevice::CDevice(std::function<void(const std::string&)> log) : m_log(std::move(log)) {
  for (int i = 0; i < protocol::kPresetCount; ++i) m_presets[static_cast<std::size_t>(i)] = PresetEdid(i);
  m_output = TelevisionEdid();
}

void CDevice::Log(const std::string& text) const {
  if (m_log) m_log(text);
}

std::vector<std::string> CDevice::Receive(std::span<const std::uint8_t> bytes) {
  std::vector<std::string> out;
  for (std::uint8_t b : bytes) {
    if (b == '\n') {
      if (m_overlong) {
        Log("refused: line longer than " + std::to_string(kMaxLine) + " bytes");
      } else {
        std::string_view line = m_line;
        while (!line.empty() && (line.back() == '\r')) line.remove_suffix(1);
        while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
        if (!line.empty()) Command(line, out);
      }
      m_line.clear();
      m_overlong = false;
    } else if (m_line.size() < kMaxLine) {
      m_line.push_back(static_cast<char>(b));
    } else {
      m_overlong = true;
    }
  }
  return out;
}

std::vector<std::string> CDevice::StatusLines() const {
  char edid[32];
  std::snprintf(edid, sizeof edid, "IN1 EDID %02d\r\n", m_preset);
  return {edid, "OUT1 VIDEO " + std::to_string(m_scaler) + "\r\n",
          "OUT1 IMAGE ENH " + std::to_string(m_enhancement) + "\r\n"};
}

std::string CDevice::EdidReply(std::string_view head, const Edid& edid) const {
  std::string line(head);
  line += " DATA";
  char pair[4];
  for (std::uint8_t b : edid) {
    std::snprintf(pair, sizeof pair, " %02x", b);
    line += pair;
  }
  // Noise on the line: one byte inside byte 131's pair.
  if (m_garble) line.insert(line.find("DATA ") + 5 + 130 * 3 + 1, "?");
  return line + "\r\n";
}

void CDevice::Command(std::string_view line, std::vector<std::string>& out) {
  m_commands.emplace_back(line);
  const std::size_t before = out.size();
  if (line.size() > 64) {
    Log("<- " + Printable(line.substr(0, 40)) + "... (" + std::to_string(line.size()) + " bytes)");
  } else {
    Log("<- " + Printable(line));
  }

  if (line == "GET STA") {
    const auto lines = StatusLines();
    out.insert(out.end(), lines.begin(), lines.end());
  } else if (StartsWith(line, "SET OUT1 IMAGE ENH ") && line.size() == 20 && line[19] >= '0' &&
             line[19] <= '3') {
    if (!m_ignoreSettings) m_enhancement = line[19] - '0';
    out.push_back("OUT1 IMAGE ENH " + std::to_string(m_enhancement) + "\r\n");
  } else if (StartsWith(line, "SET OUT1 VIDEO") && line.size() == 15 && line[14] >= '1' &&
             line[14] <= '4') {
    if (!m_ignoreSettings) m_scaler = line[14] - '0';
    out.push_back("OUT1 VIDEO " + std::to_string(m_scaler) + "\r\n");
  } else if (StartsWith(line, "SET IN1 EDID U1 DATA ")) {
    if (StoreUserEdid(line.substr(21))) {
      Log("user EDID stored in preset 15");
    }
  } else if (StartsWith(line, "SET IN1 EDID ") && line.size() == 15 && IsDigit(line[13]) &&
             IsDigit(line[14]) && (line[13] - '0') * 10 + (line[14] - '0') < protocol::kPresetCount) {
    if (!m_ignoreSettings) m_preset = (line[13] - '0') * 10 + (line[14] - '0');
    out.push_back(StatusLines().front());
  } else if (line == "GET OUT1 EDID  DATA") {
    out.push_back(EdidReply("OUT1 EDID", m_output));
  } else if (StartsWith(line, "GET IN1 EDID ") && line.size() == 20 && IsDigit(line[13]) &&
             IsDigit(line[14]) && line.substr(15) == " DATA" &&
             (line[13] - '0') * 10 + (line[14] - '0') < protocol::kPresetCount) {
    const int preset = (line[13] - '0') * 10 + (line[14] - '0');
    char head[32];
    std::snprintf(head, sizeof head, "IN1 EDID %02d", preset);
    out.push_back(EdidReply(head, preset == protocol::kBypassPreset ? m_output : EdidOf(preset)));
  } else {
    Log("refused: unknown command");
  }
  for (std::size_t i = before; i < out.size(); ++i) {
    const std::string& sent = out[i];
    const std::string_view shown(sent.data(), sent.size() - 2);
    Log("-> " + (shown.size() > 64 ? Printable(shown.substr(0, 40)) + "... (" +
                                         std::to_string(sent.size()) + " bytes)"
                                   : Printable(shown)));
  }
}

bool CDevice::StoreUserEdid(std::string_view hex) {
  Edid edid{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < edid.size(); ++i) {
    if (i > 0) {
      if (pos >= hex.size() || hex[pos] != ' ') {
        Log("refused: user EDID byte " + std::to_string(i) + " is not preceded by a blank");
        return false;
      }
      ++pos;
    }
    if (pos + 2 > hex.size() || HexValue(hex[pos]) < 0 || HexValue(hex[pos + 1]) < 0) {
      Log("refused: user EDID byte " + std::to_string(i) + " is not a hexadecimal pair");
      return false;
    }
    edid[i] = static_cast<std::uint8_t>(HexValue(hex[pos]) * 16 + HexValue(hex[pos + 1]));
    pos += 2;
  }
  if (pos != hex.size()) {
    Log("refused: user EDID has more than 256 bytes");
    return false;
  }
  switch (m_userEdidFault) {
    case UserEdidFault::None:
      break;
    case UserEdidFault::OneByteChanged:
      edid[131] ^= 0x7F;
      Log("fault: user EDID byte 131 stored changed");
      break;
    case UserEdidFault::Dropped:
      Log("fault: user EDID dropped");
      return false;
  }
  m_presets[protocol::kUserPreset] = edid;
  return true;
}

}  // namespace vantorq::sim
