// libFuzzer target: any bytes as the content of KVAddrMg.ini. Checks that
// every description keeps its terminator within its eleven characters.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "AddressFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantorq::AddressTable table;
  vantorq::ParseAddressFile({reinterpret_cast<const char*>(data), size}, table);
  for (const auto& description : table.description) {
    if (description[vantorq::kAddrDescChars] != '\0') std::abort();
  }
  return 0;
}
