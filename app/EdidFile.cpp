#include "EdidFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

std::optional<std::string> NextEdidFileName(std::string_view pattern) {
  for (int k = 0; k <= kLastEdidFileNumber; ++k) {
    std::string name = FormatEdidFileName(pattern, k);
    if (!FileExists(name)) return name;
  }
  return std::nullopt;
}

WriteResult SaveEdidFile(const std::string& name, EdidView edid, int* error) {
  return WriteWholeFile(name, edid, error);
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

LoadResult LoadEdidFile(const std::string& path, EdidBuffer& edid) {
  edid.fill(0xFF);
  const CFileDescriptor file = OpenWithoutWaiting(path, O_RDONLY);
  if (!file) return LoadResult::ReadFailed;
  // The extension is looked at only once the file has opened.
  if (FileExtension(path) != "bin") return LoadResult::NotBin;
  // A folder, a FIFO or a device opens but is no file to send.
  std::vector<std::uint8_t> bytes;
  bool more = false;
  if (!IsRegularFile(file.Get()) || !ReadUpTo(file.Get(), kEdidSize, bytes, more)) {
    return LoadResult::ReadFailed;
  }
  edid = EdidFromFileBytes(bytes);
  return LoadResult::Loaded;
}

}  // namespace vantorq
