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

struct SavedEdid {
  WriteResult result = WriteResult::CreateFailed;
  std::string name;  // the name it was saved under (or tried), empty when all 100 are taken
  int error = 0;     // errno, when it failed
};

// Saves the 256 bytes in the current folder under the first of numbers
// 00..99 whose name is free, creating it exclusively: a name with any
// entry (a link to nowhere included) is passed over, and so is one that
// another program takes at the same moment. A saved EDID is never
// overwritten: with all 100 names taken nothing is saved and `name` is empty.
SavedEdid SaveEdidUnderFreeName(std::string_view pattern, EdidView edid);

// An EDID as a file holds it: the first 256 bytes, a shorter file
// completed with 0xFF.
EdidBuffer EdidFromFileBytes(std::span<const std::uint8_t> bytes);

// Reads up to `limit` bytes of whatever `path` names, a pipe included, or
// of standard input for "-"; `more` tells whether it went on beyond them.
// False with an errno value in `error` when it cannot be read (EINTR:
// `stopFd` became readable while it waited for a writer).
bool ReadEdidInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more,
                   int& error, int stopFd = -1);

// What an EDID input holds, told by its content: binary bytes, or text
// carrying the bytes as hexadecimal pairs.
struct EdidInput {
  enum class Form {
    Binary,
    HexDump,      // lines of pairs, as decoders and technicians print them
    OffsetDump,   // xxd or hexdump -C
    Xrandr,       // the "EDID:" block of xrandr --verbose
    DeviceReply,  // the device's read reply line ("... EDID ... DATA xx xx ...")
    Unknown,      // text, but none of these: no bytes to decode
  };
  Form form = Form::Binary;
  std::vector<std::uint8_t> bytes;
  // What makes the input unusable although its form was told: "line 17
  // has an odd number of hex digits ...". No bytes then.
  std::string problem;
};

// Text is any input of printable characters and white space only; its
// bytes are the pairs of the device's reply line, of an xrandr "EDID:"
// block, of an xxd or hexdump -C dump (offsets and text column left out,
// "*" runs filled in), or of the first run of lines made of pairs ("00 ff",
// "00ff", "0x00,"), blank lines included. Text that is none of these is
// Unknown. Anything else is binary.
EdidInput InterpretEdidInput(std::span<const std::uint8_t> raw);

enum class LoadResult {
  Loaded,
  ReadFailed,
  NotBin,
  NotEdid,  // empty, or not beginning with the EDID header: nothing to send
};

// The load of the EDID page: opens `path` (without opening a device or
// waiting on a FIFO behind it), then checks that its extension is exactly
// "bin", then reads its first 256 bytes into `edid`, which is filled with
// 0xFF first. Only a regular file can be read, and only one that begins
// with the EDID header is an EDID; `read` receives what was read.
LoadResult LoadEdidFile(const std::string& path, EdidBuffer& edid, std::vector<std::uint8_t>* read = nullptr);

// Whether `bytes` begin with the EDID header (an empty or foreign file does
// not, and is nothing to write into a device).
bool BeginsWithEdidHeader(std::span<const std::uint8_t> bytes);

// Why the bytes read from `name` are no EDID: "mine.bin is empty", or
// "mine.bin begins with 68 65 6c ..., an EDID with 00 ff ff ff ff ff ff 00".
std::string DescribeNotEdid(std::string_view name, std::span<const std::uint8_t> read);

// What the check of an EDID found, in one line: "EDID check: header,
// checksums and extension count are right", or its problems.
std::string EdidCheckLine(std::span<const std::uint8_t> bytes);

// The whole of an EDID for a person: the detailed report with, beneath
// its five answers, where it came from (`origin`, "Saved to: /path") and
// its check. Lines end in CR LF.
std::string EdidDetailsText(std::span<const std::uint8_t> bytes, const std::string& origin);

// The text after the last dot of the file's name; empty if it has none.
std::string FileExtension(std::string_view path);

}  // namespace vantorq
