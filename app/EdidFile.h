#pragma once
// EDID files: the numbered names read-backs are saved under, saving with
// every step checked, and loading by the console's rule (the first 256
// bytes, a shorter file completed with 0xFF). The console's page and
// vantorq-edid read them the same way.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "EdidBuffer.h"
#include "FileIo.h"

namespace vantorq {

inline constexpr int kLastEdidFileNumber = 99;

// "Matrix_EDID_out" + port character + "_%02d.bin" (23 characters once
// formatted). The character is '0' plus the port number, and the console's
// commands always address port 1.
std::string EdidFilePattern(std::string_view prefix, int port = 1);

// The pattern with its "%02d" replaced by `number` as two digits.
std::string FormatEdidFileName(std::string_view pattern, int number);

// The first of numbers 00..99 whose file does not exist in the current
// folder; none when all 100 exist (a saved EDID is never overwritten).
std::optional<std::string> NextEdidFileName(std::string_view pattern);

// Creates the file and writes the 256 bytes (`error` as WriteWholeFile).
WriteResult SaveEdidFile(const std::string& name, EdidView edid, int* error = nullptr);

// An EDID as a file holds it: the first 256 bytes, a shorter file
// completed with 0xFF.
EdidBuffer EdidFromFileBytes(std::span<const std::uint8_t> bytes);

// Reads up to `limit` bytes of whatever `path` names, a pipe included, or
// of standard input for "-"; `more` tells whether it went on beyond them.
// False with an errno value in `error` when it cannot be read.
bool ReadEdidInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more,
                   int& error);

// What an EDID input holds, told by its content: binary bytes, or text
// carrying the bytes as hexadecimal pairs.
struct EdidInput {
  enum class Form {
    Binary,
    HexDump,      // lines of pairs, as decoders and technicians print them
    Xrandr,       // the "EDID:" block of xrandr --verbose
    DeviceReply,  // the device's read reply line ("... EDID ... DATA xx xx ...")
  };
  Form form = Form::Binary;
  std::vector<std::uint8_t> bytes;
};

// Text is any input of printable characters and white space only; its
// bytes are the pairs of the device's reply line, of an xrandr "EDID:"
// block, or of the first run of lines made of pairs ("00 ff", "00ff",
// "0x00,"), blank lines included. Anything else is binary.
EdidInput InterpretEdidInput(std::span<const std::uint8_t> raw);

enum class LoadResult { Loaded, ReadFailed, NotBin };

// The load of the EDID page: opens `path` (without waiting on a FIFO),
// then checks that its extension is exactly "bin", then reads its first
// 256 bytes into `edid`, which is filled with 0xFF first. Only a regular
// file can be read.
LoadResult LoadEdidFile(const std::string& path, EdidBuffer& edid);

// The text after the last dot of the file's name; empty if it has none.
std::string FileExtension(std::string_view path);

}  // namespace vantorq
