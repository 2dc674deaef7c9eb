// libFuzzer target: any bytes as what a gateway sends, and as a ports file.
// Checks that no data byte is lost or made up around Telnet commands (the
// same bytes cut anywhere decode alike) and that every address the ports
// file keeps parses again.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "NetworkLine.h"
#include "PortsFile.h"
#include "TelnetCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in{data, size};
  std::vector<std::uint8_t> whole, reply;
  vantorq::CTelnetCodec().Decode(in, whole, reply);
  if (whole.size() > size) std::abort();
  vantorq::CTelnetCodec cut;
  std::vector<std::uint8_t> pieces;
  for (std::size_t at = 0; at < size; at += 1 + data[at] % 7) {
    cut.Decode(in.subspan(at, std::min<std::size_t>(size - at, 1 + data[at] % 7)), pieces, reply);
  }
  if (pieces != whole) std::abort();

  const auto file = vantorq::ParsePortsFile({reinterpret_cast<const char*>(data), size});
  for (const auto& [com, address] : file.addresses) {
    vantorq::NetworkAddress parsed;
    std::string error;
    if (com < 1 || com > 99 || !vantorq::ParseNetworkAddress(address, parsed, error)) std::abort();
  }
  return 0;
}
