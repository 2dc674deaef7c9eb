#include "SetupFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "Hex.h"
#include "Presets.h"
#include "Trace.h"

namespace vantorq {

namespace {

constexpr std::string_view kMagic = "vantorq-setup";
constexpr std::size_t kPairsPerLine = 16;

struct Setting {
  std::string_view key;
  int Setup::*field;
  std::span<const std::string_view> names;
};

const std::array<Setting, 3> kSettings{{
    {"preset", &Setup::preset, protocol::kPresetNames},
    {"scaler", &Setup::scaler, protocol::kScalerModeNames},
    {"enhancement", &Setup::enhancement, protocol::kEnhancementNames},
}};

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The first word of `s` and the rest, trimmed.
std::pair<std::string_view, std::string_view> Split(std::string_view s) {
  const auto space = s.find_first_of(" \t");
  if (space == std::string_view::npos) return {s, {}};
  return {s.substr(0, space), Trim(s.substr(space))};
}

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The pairs of one line of the user EDID: "00 ff ff ..."; false otherwise.
bool Pairs(std::string_view line, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= line.size() || HexValue(line[i]) < 0 || HexValue(line[i + 1]) < 0) return false;
    if (i + 2 < line.size() && line[i + 2] != ' ' && line[i + 2] != '\t') return false;
    out.push_back(static_cast<std::uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1])));
    i += 2;
  }
  return true;
}

}  // namespace

std::string FormatSetup(const Setup& setup) {
  std::string text =
      "# Vantorq setup: the EDID preset, the scaler mode and the enhancement level\n"
      "# (numbered as the console's pages number them), and the user EDID (preset 15).\n";
  text += std::string(kMagic) + " " + std::to_string(kSetupFormat) + "\n";
  for (const Setting& s : kSettings) {
    const int value = setup.*s.field;
    text += std::string(s.key) + " " + std::to_string(value) + " " +
            std::string(s.names[static_cast<std::size_t>(value)]) + "\n";
  }
  text += "user-edid\n";
  for (std::size_t i = 0; i < setup.userEdid.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02x", setup.userEdid[i]);
    if (i % kPairsPerLine == 0) text += " ";
    text += pair;
    if (i % kPairsPerLine == kPairsPerLine - 1) text += "\n";
  }
  return text;
}

SetupParse ParseSetup(std::string_view text) {
  // Saved by an editor that marks UTF-8: the mark is not part of the text.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }
  SetupParse parse;
  std::array<bool, kSettings.size()> seen{};
  bool magic = false;
  bool edid = false;
  std::size_t number = 0;
  auto fail = [&](const std::string& why) {
    parse.error = number > 0 ? "line " + std::to_string(number) + ": " + why : why;
    return parse;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    number = i + 1;
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line[0] == '#') continue;
    const auto [key, rest] = Split(line);
    if (!magic) {
      if (key != kMagic) return fail("not a Vantorq setup: it begins with " + Excerpt(line));
      const auto format = Number(rest);
      if (!format) return fail(Excerpt(line) + " names no format number");
      if (*format != kSetupFormat) {
        return fail("format " + std::to_string(*format) + " is not the one this program reads (" +
                    std::to_string(kSetupFormat) + ")");
      }
      magic = true;
      continue;
    }
    if (key == "user-edid") {
      if (edid) return fail("user-edid given twice");
      if (!rest.empty()) return fail("user-edid takes its bytes on the indented lines below it");
      edid = true;
      // Its bytes: the indented lines that follow.
      std::vector<std::uint8_t> bytes;
      for (; i + 1 < lines.size() && !lines[i + 1].empty() && (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t') &&
             !Trim(lines[i + 1]).empty();
           ++i) {
        number = i + 2;
        if (!Pairs(Trim(lines[i + 1]), bytes) || bytes.size() > kEdidSize) {
          return fail("user-edid: not " + std::to_string(kEdidSize) + " hex pairs: " + Excerpt(Trim(lines[i + 1])));
        }
      }
      if (bytes.size() != kEdidSize) {
        return fail("user-edid holds " + std::to_string(bytes.size()) + " bytes, not " + std::to_string(kEdidSize));
      }
      std::copy(bytes.begin(), bytes.end(), parse.setup.userEdid.begin());
      continue;
    }
    const std::string_view name = key;
    const auto setting = std::find_if(kSettings.begin(), kSettings.end(), [&](const Setting& s) { return s.key == name; });
    if (setting == kSettings.end()) return fail("unknown key " + Excerpt(key));
    bool& once = seen[static_cast<std::size_t>(setting - kSettings.begin())];
    if (once) return fail(std::string(key) + " given twice");
    once = true;
    const auto [value, given] = Split(rest);
    const auto n = Number(value);
    const int count = static_cast<int>(setting->names.size());
    if (!n || *n < 0 || *n >= count) {
      return fail(std::string(key) + " " + Excerpt(value) + " is not a number from 0 to " + std::to_string(count - 1));
    }
    const std::string_view expected = setting->names[static_cast<std::size_t>(*n)];
    if (given != expected) {
      return fail(std::string(key) + " " + std::to_string(*n) + " is \"" + std::string(expected) + "\", not " +
                  Excerpt(given, 40, '"'));
    }
    parse.setup.*setting->field = *n;
  }
  number = 0;
  if (!magic) return fail("not a Vantorq setup: no 'vantorq-setup 1' line");
  for (std::size_t k = 0; k < kSettings.size(); ++k) {
    if (!seen[k]) return fail(std::string(kSettings[k].key) + " is missing");
  }
  if (!edid) return fail("user-edid is missing");
  parse.ok = true;
  return parse;
}

}  // namespace vantorq
