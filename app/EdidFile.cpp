#include "EdidFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "EdidCheck.h"
#include "Hex.h"

namespace vantorq {

std::string EdidFilePattern(std::string_view prefix, int port) {
  std::string pattern(prefix);
  pattern += static_cast<char>('0' + port);
  pattern += "_%02d.bin";
  return pattern;
}

std::string FormatEdidFileName(std::string_view pattern, int number) {
  const auto at = pattern.find("%02d");
  if (at == std::string_view::npos) return std::string(pattern);
  const char digits[2] = {static_cast<char>('0' + number / 10 % 10), static_cast<char>('0' + number % 10)};
  std::string name(pattern.substr(0, at));
  name.append(digits, 2);
  name.append(pattern.substr(at + 4));
  return name;
}

SavedEdid SaveEdidUnderFreeName(std::string_view pattern, EdidView edid) {
  SavedEdid saved;
  for (int k = 0; k <= kLastEdidFileNumber; ++k) {
    std::string name = FormatEdidFileName(pattern, k);
    if (FileExists(name)) continue;
    saved.result = CreateNewFile(name, edid, &saved.error);
    // Taken between the look and the creation: by another console saving
    // into the same folder. The next number is ours to try.
    if (saved.result == WriteResult::CreateFailed && saved.error == EEXIST) continue;
    saved.name = std::move(name);
    return saved;
  }
  saved.error = EEXIST;
  return saved;
}

EdidBuffer EdidFromFileBytes(std::span<const std::uint8_t> bytes) {
  EdidBuffer edid;
  edid.fill(0xFF);
  std::copy_n(bytes.begin(), std::min(bytes.size(), edid.size()), edid.begin());
  return edid;
}

std::string FileExtension(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

bool ReadEdidInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more,
                   int& error) {
  CFileDescriptor owned;
  int fd = STDIN_FILENO;
  if (path != "-") {
    owned = CFileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!owned) {
      error = errno;
      return false;
    }
    fd = owned.Get();
  }
  if (!ReadUpTo(fd, limit, bytes, more)) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

namespace {

bool IsTextByte(std::uint8_t b) { return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r' || b == '\f' || b == '\v'; }

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\f\v");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\f\v") - first + 1);
}

// The pairs of a line made of nothing else: "00 ff", "00ff", "0x00, 0xff".
// False, with nothing appended, when the line holds anything more.
bool HexLine(std::string_view line, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> pairs;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) i += 2;
    std::size_t run = i;
    while (run < line.size() && HexValue(line[run]) >= 0) ++run;
    if (run == i || (run - i) % 2 != 0) return false;
    for (; i < run; i += 2) pairs.push_back(static_cast<std::uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1])));
  }
  if (pairs.empty()) return false;
  out.insert(out.end(), pairs.begin(), pairs.end());
  return true;
}

// Every pair after the first "DATA " of a reply line, in either case.
std::vector<std::uint8_t> ReplyPairs(std::string_view line) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = line.find("DATA ") + 5; i + 1 < line.size();) {
    if (HexValue(line[i]) >= 0 && HexValue(line[i + 1]) >= 0) {
      out.push_back(static_cast<std::uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1])));
      i += 2;
    } else {
      ++i;
    }
  }
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }
  return lines;
}

}  // namespace

EdidInput InterpretEdidInput(std::span<const std::uint8_t> raw) {
  EdidInput input{EdidInput::Form::Binary, {raw.begin(), raw.end()}};
  if (raw.empty() || !std::all_of(raw.begin(), raw.end(), IsTextByte)) return input;
  const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
  const auto lines = Lines(text);

  for (std::string_view line : lines) {
    if (line.find("EDID ") != std::string_view::npos && line.find("DATA ") != std::string_view::npos) {
      return {EdidInput::Form::DeviceReply, ReplyPairs(line)};
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Trim(lines[i]) != "EDID:") continue;
    std::vector<std::uint8_t> bytes;
    for (std::size_t j = i + 1; j < lines.size() && HexLine(Trim(lines[j]), bytes); ++j) {
    }
    if (!bytes.empty()) return {EdidInput::Form::Xrandr, bytes};
  }
  // The first run of pair lines; blank lines inside it (between blocks)
  // are passed over, any other line ends it.
  std::vector<std::uint8_t> bytes;
  for (std::string_view line : lines) {
    const std::string_view trimmed = Trim(line);
    if (HexLine(trimmed, bytes)) continue;
    if (!bytes.empty() && !trimmed.empty()) break;
  }
  if (!bytes.empty()) return {EdidInput::Form::HexDump, bytes};
  return input;
}

std::string DescribeNotEdid(std::string_view name, std::span<const std::uint8_t> read) {
  std::string text(name);
  if (read.empty()) return text + " is empty.";
  return text + " begins with " + HexPairs(read.first(std::min(read.size(), kEdidHeader.size()))) +
         "; an EDID begins with " + HexPairs(kEdidHeader) + ".";
}

LoadResult LoadEdidFile(const std::string& path, EdidBuffer& edid, std::vector<std::uint8_t>* read) {
  edid.fill(0xFF);
  // The name only: a device behind it is not opened, a FIFO not waited on.
  const CFileDescriptor name = OpenNameOnly(path);
  if (!name) return LoadResult::ReadFailed;
  // The extension is looked at only once the file has opened.
  if (FileExtension(path) != "bin") return LoadResult::NotBin;
  // A folder, a FIFO or a device is no file to send.
  const CFileDescriptor file = ReopenRegular(name, O_RDONLY);
  std::vector<std::uint8_t> bytes;
  bool more = false;
  if (!file || !ReadUpTo(file.Get(), kEdidSize, bytes, more)) return LoadResult::ReadFailed;
  if (read != nullptr) *read = bytes;
  // An empty or foreign file would fill the device's buffer with 0xFF or
  // garbage, which it then offers every source as an EDID.
  if (bytes.size() < kEdidHeader.size() || !std::equal(kEdidHeader.begin(), kEdidHeader.end(), bytes.begin())) {
    return LoadResult::NotEdid;
  }
  edid = EdidFromFileBytes(bytes);
  return LoadResult::Loaded;
}

}  // namespace vantorq
