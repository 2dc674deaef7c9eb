// libFuzzer target: any bytes as a status line, with and without its LF.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "StatusLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  const auto plain = vantorq::protocol::ParseStatusLine(line);
  line.push_back('\n');
  const auto framed = vantorq::protocol::ParseStatusLine(line);
  // A tag the line does not hold is never reported.
  if (framed.kind == vantorq::protocol::StatusKind::Edid && line.find("EDID ") == std::string::npos) std::abort();
  (void)plain;
  return 0;
}
