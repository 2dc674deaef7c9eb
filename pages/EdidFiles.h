#pragma once
// EDID files: the numbered names read-backs are saved under, saving with
// every step checked, and loading by the file rule.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantorq {

// "Matrix_EDID_out" + port character + "_%02d.bin" (23 characters once
// formatted). The character is '0' plus the port number, and the console's
// commands always address port 1.
std::string EdidFilePattern(std::string_view prefix, int port = 1);

// The pattern with its "%02d" replaced by `number` as two digits.
std::string FormatEdidFileName(std::string_view pattern, int number);

// The first of numbers 00..99 whose file does not exist in the current
// folder; when all exist, 99 (and that file is overwritten).
std::string NextEdidFileName(std::string_view pattern);

enum class SaveResult {
  Saved,
  CreateFailed,  // could not be created
  Vanished,      // created, yet not found right after
  WriteFailed,   // writing, flushing or closing failed; nothing is left behind
};

SaveResult SaveEdidFile(const std::string& name, std::span<const std::uint8_t, 256> edid);

enum class LoadResult { Loaded, ReadFailed, NotBin };

// Opens `path`, then checks that its extension is exactly "bin", then reads
// its first 256 bytes into `edid`, which is filled with 0xFF first.
LoadResult LoadEdidFile(const std::string& path, std::array<std::uint8_t, 256>& edid);

// The text after the last dot of the file's name; empty if it has none.
std::string FileExtension(std::string_view path);

}  // namespace vantorq
