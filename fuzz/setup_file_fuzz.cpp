// libFuzzer target: any bytes as a setup file. The parser never reads out
// of bounds, and whatever it accepts is written back as a file it reads
// as the same setup.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "SetupFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vantorq::SetupParse parse = vantorq::ParseSetup({reinterpret_cast<const char*>(data), size});
  if (!parse.ok) return 0;
  const vantorq::SetupParse again = vantorq::ParseSetup(vantorq::FormatSetup(parse.setup));
  if (!again.ok || !(again.setup == parse.setup)) std::abort();
  return 0;
}
