#include "EdidFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vantorq {

namespace {

constexpr int kLastNumber = 99;

bool Exists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0;
}

}  // namespace

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

std::string NextEdidFileName(std::string_view pattern) {
  for (int k = 0; k < kLastNumber; ++k) {
    std::string name = FormatEdidFileName(pattern, k);
    if (!Exists(name)) return name;
  }
  return FormatEdidFileName(pattern, kLastNumber);
}

SaveResult SaveEdidFile(const std::string& name, std::span<const std::uint8_t, 256> edid) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) return SaveResult::CreateFailed;
  if (!Exists(name)) {
    std::fclose(f);
    return SaveResult::Vanished;
  }
  // Every step is checked: a full disk shows up at the write, the flush or
  // the close, and must not pass for a saved file.
  const bool written = std::fwrite(edid.data(), 1, edid.size(), f) == edid.size();
  const bool flushed = std::fflush(f) == 0;
  const bool closed = std::fclose(f) == 0;
  if (written && flushed && closed) return SaveResult::Saved;
  ::unlink(name.c_str());
  return SaveResult::WriteFailed;
}

std::string FileExtension(std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

LoadResult LoadEdidFile(const std::string& path, std::array<std::uint8_t, 256>& edid) {
  edid.fill(0xFF);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return LoadResult::ReadFailed;
  // The extension is looked at only once the file has opened.
  if (FileExtension(path) != "bin") {
    std::fclose(f);
    return LoadResult::NotBin;
  }
  const std::size_t n = std::fread(edid.data(), 1, edid.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    // A folder opens but cannot be read: not a file to send.
    edid.fill(0xFF);
    return LoadResult::ReadFailed;
  }
  (void)n;  // a short or empty file leaves the rest at 0xFF
  return LoadResult::Loaded;
}

}  // namespace vantorq
