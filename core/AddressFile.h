#pragma once
// The address table file KVAddrMg.ini: 32 unit addresses (group in the high
// byte, device in the low byte) and a short description for each.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantorq {

inline constexpr int kAddressCount = 32;
inline constexpr int kAddrDescChars = 10;
inline constexpr std::string_view kAddressFileName = "KVAddrMg.ini";

struct AddressTable {
  std::array<std::uint16_t, kAddressCount> address{};
  // Each description with its terminator; ten blanks until the file says otherwise.
  std::array<std::array<char, kAddrDescChars + 1>, kAddressCount> description{};

  AddressTable();
  std::string_view Description(int unit) const;
};

// The content a missing file is created with: 32 "0000 " on one line, then
// 32 lines of "* " (290 characters).
std::string DefaultAddressFile();

// Reads the table out of a file's bytes. Entries the bytes do not reach
// keep their initial values (address 0, ten blanks).
void ParseAddressFile(std::string_view text, AddressTable& table);

// Creates the file when missing, then reads it; `message` is told of every
// failure, with the operator-visible text.
void ReadAddressFile(const std::string& path, AddressTable& table,
                     const std::function<void(std::string_view)>& message);

}  // namespace vantorq
