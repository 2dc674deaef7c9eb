#include "EdidFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "EdidCheck.h"
#include "EdidDetail.h"
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
    // Only the exclusive creation tells a free name: any entry there (a
    // file, a link to nowhere, one another console made a moment ago)
    // refuses it, and the next number is tried.
    saved.result = CreateNewFile(name, edid, &saved.error);
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

std::string EdidCheckLine(std::span<const std::uint8_t> bytes) {
  const EdidVerdict verdict = CheckEdid(bytes);
  return "EDID check: " + (verdict.Passed() ? std::string("header, checksums and extension count are right")
                                            : verdict.Summary());
}

std::string EdidDetailsText(std::span<const std::uint8_t> bytes, const std::string& origin) {
  return edid::DetailReport(bytes, {origin, EdidCheckLine(bytes)});
}

std::string FileExtension(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

bool ReadEdidInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more,
                   int& error, int stopFd) {
  CFileDescriptor owned;
  int fd = STDIN_FILENO;
  if (path != "-") {
    // Without waiting for a FIFO's writer here: the reads wait, and they
    // end when `stopFd` says so.
    owned = CFileDescriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!owned) {
      error = errno;
      return false;
    }
    fd = owned.Get();
  }
  if (!ReadUpTo(fd, limit, bytes, more, stopFd)) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

namespace {

// Text: printable characters (UTF-8 included, as a README has them) and
// white space. An EDID's own bytes never are: it begins with 00.
bool IsText(std::span<const std::uint8_t> raw) {
  for (std::size_t i = 0; i < raw.size();) {
    const std::uint8_t b = raw[i];
    if ((b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r' || b == '\f' || b == '\v') {
      ++i;
      continue;
    }
    const std::size_t length = b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
    if (length == 0 || i + length > raw.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((raw[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\f\v");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\f\v") - first + 1);
}

enum class LineKind { Pairs, NotHex, OddDigits };

// The pairs of a line made of nothing else: "00 ff", "00ff", "0x00, 0xff",
// "{0x00, 0xff};". NotHex, with nothing appended, when the line holds
// anything more; OddDigits when it is hex alone but a run of digits has no
// last partner.
LineKind HexLine(std::string_view line, std::vector<std::uint8_t>& out) {
  constexpr std::string_view kBetweenPairs = " \t,\r{};";
  std::vector<std::uint8_t> pairs;
  bool odd = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (kBetweenPairs.find(c) != std::string_view::npos) {
      ++i;
      continue;
    }
    if (c == '0' && i + 2 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X') && HexValue(line[i + 2]) >= 0) {
      i += 2;
    }
    std::size_t run = i;
    while (run < line.size() && HexValue(line[run]) >= 0) ++run;
    if (run == i) return LineKind::NotHex;
    if ((run - i) % 2 != 0) odd = true;
    for (; i + 1 < run; i += 2) pairs.push_back(static_cast<std::uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1])));
    i = run;
  }
  if (odd) return LineKind::OddDigits;
  if (pairs.empty()) return LineKind::NotHex;
  out.insert(out.end(), pairs.begin(), pairs.end());
  return LineKind::Pairs;
}

// The hex digits of a dump's data column, pairs with single blanks
// between groups ("00ff ffff", "00 ff ff"); false for anything else.
bool DumpData(std::string_view data, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < data.size()) {
    if (data[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t run = i;
    while (run < data.size() && HexValue(data[run]) >= 0) ++run;
    if (run == i || (run - i) % 2 != 0) return false;
    for (; i < run; i += 2) bytes.push_back(static_cast<std::uint8_t>(HexValue(data[i]) * 16 + HexValue(data[i + 1])));
  }
  out.insert(out.end(), bytes.begin(), bytes.end());
  return true;
}

// A line of an offset dump: "00000010: 00ff ffff ...  .ascii." (xxd) or
// "00000010  00 ff ff ... ff  |.ascii.|" (hexdump -C), or the offset alone
// that ends hexdump's output. The offset is read, never taken as data.
bool DumpLine(std::string_view line, std::size_t& offset, std::vector<std::uint8_t>& bytes) {
  std::size_t digits = 0;
  while (digits < line.size() && HexValue(line[digits]) >= 0) ++digits;
  if (digits < 6 || digits > 16) return false;
  offset = 0;
  for (std::size_t i = 0; i < digits; ++i) offset = offset * 16 + static_cast<std::size_t>(HexValue(line[i]));
  std::string_view rest = line.substr(digits);
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.remove_suffix(1);
  bytes.clear();
  if (rest.empty()) return true;
  if (rest[0] == ':') {
    // xxd: the text column follows two blanks.
    rest.remove_prefix(1);
    return DumpData(rest.substr(0, rest.find("  ", 1)), bytes);
  }
  if (rest.substr(0, 2) != "  ") return false;
  const auto bar = rest.find('|');
  return DumpData(rest.substr(0, bar), bytes);
}

// An xxd or hexdump -C dump from its first line on; a "*" line (a run of
// lines like the one before it) is filled in from the offsets.
bool OffsetDump(const std::vector<std::string_view>& lines, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> previous;
  bool repeat = false;
  bool any = false;
  for (std::string_view raw : lines) {
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;
    if (line == "*") {
      repeat = true;
      continue;
    }
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes;
    if (!DumpLine(line, offset, bytes)) return any && !repeat;
    if (!any && offset != 0) return false;
    while (repeat && !previous.empty() && out.size() < offset) {
      out.insert(out.end(), previous.begin(), previous.begin() + static_cast<long>(std::min(previous.size(), offset - out.size())));
    }
    repeat = false;
    if (offset != out.size()) return false;
    any = true;
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (!bytes.empty()) previous = bytes;
  }
  return any && !out.empty();
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
  EdidInput input{EdidInput::Form::Binary, {raw.begin(), raw.end()}, {}};
  if (raw.empty() || !IsText(raw)) return input;
  const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
  const auto lines = Lines(text);

  // The device's reply: after "DATA " nothing but the pairs (either case).
  // A line of prose that names both words is no reply.
  for (std::string_view line : lines) {
    const auto data = line.find("DATA ");
    if (line.find("EDID ") == std::string_view::npos || data == std::string_view::npos) continue;
    std::vector<std::uint8_t> bytes;
    switch (HexLine(Trim(line.substr(data + 5)), bytes)) {
      case LineKind::Pairs:
        return {EdidInput::Form::DeviceReply, bytes, {}};
      case LineKind::OddDigits:
        return {EdidInput::Form::DeviceReply, {}, "the reply has an odd number of hex digits: the last one has no partner"};
      case LineKind::NotHex:
        break;
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Trim(lines[i]) != "EDID:") continue;
    std::vector<std::uint8_t> bytes;
    for (std::size_t j = i + 1; j < lines.size() && HexLine(Trim(lines[j]), bytes) == LineKind::Pairs; ++j) {
    }
    if (!bytes.empty()) return {EdidInput::Form::Xrandr, bytes, {}};
  }
  // xxd and hexdump -C: their offsets are not bytes.
  const auto first = std::find_if(lines.begin(), lines.end(), [](std::string_view l) { return !Trim(l).empty(); });
  if (std::vector<std::uint8_t> bytes; first != lines.end() && OffsetDump({first, lines.end()}, bytes)) {
    return {EdidInput::Form::OffsetDump, bytes, {}};
  }
  // The first run of pair lines; blank lines inside it (between blocks)
  // are passed over, any other line ends it.
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view trimmed = Trim(lines[i]);
    const LineKind kind = HexLine(trimmed, bytes);
    if (kind == LineKind::OddDigits) {
      // Not a byte to drop quietly: the dump is cut or mistyped.
      return {EdidInput::Form::HexDump, {},
              "line " + std::to_string(i + 1) + " has an odd number of hex digits: the last one has no partner"};
    }
    if (kind == LineKind::Pairs) continue;
    if (!bytes.empty() && !trimmed.empty()) break;
  }
  if (!bytes.empty()) return {EdidInput::Form::HexDump, bytes, {}};
  // Text, and none of the forms: a README, a log. Not an EDID to decode.
  return {EdidInput::Form::Unknown, {}, {}};
}

bool BeginsWithEdidHeader(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kEdidHeader.size() && std::equal(kEdidHeader.begin(), kEdidHeader.end(), bytes.begin());
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
  if (!BeginsWithEdidHeader(bytes)) return LoadResult::NotEdid;
  edid = EdidFromFileBytes(bytes);
  return LoadResult::Loaded;
}

}  // namespace vantorq
