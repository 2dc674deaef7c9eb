// libFuzzer target: any bytes as received while a read reply is awaited,
// through the router's line assembly and the reply parser. Checks that
// lines stay within their bound, that a reply never yields more than 256
// bytes or touches bytes it did not parse, and that a reply the wholeness
// check passes is parsed in full.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ByteRouter.h"
#include "EdidBuffer.h"
#include "ReadBack.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantorq::CByteRouter router;
  router.AwaitReadBack();
  for (std::size_t i = 0; i < size; ++i) {
    const auto event = router.OnSerialByte(data[i], 1, false);
    Check(router.m_strLine.size() <= vantorq::kMaxLineLength);
    if (event.kind != vantorq::RouterEvent::Kind::ReadBackLine) continue;
    vantorq::EdidBuffer edid;
    edid.fill(0xA5);
    const std::size_t parsed = vantorq::protocol::ParseEdidReply(event.line, edid);
    Check(parsed <= vantorq::kEdidSize);
    for (std::size_t b = parsed; b < edid.size(); ++b) Check(edid[b] == 0xA5);
    // A reply called whole is one the parser reads in full.
    const auto shape = vantorq::protocol::InspectEdidReply(event.line);
    if (shape.Whole() && event.line.size() <= vantorq::protocol::kReplyScanLimit) Check(parsed == vantorq::kEdidSize);
    Check(shape.wholePairs <= shape.digits / 2);
    router.AwaitReadBack();
  }
  // The parser on its own, on the raw bytes as one line.
  vantorq::EdidBuffer edid{};
  Check(vantorq::protocol::ParseEdidReply({reinterpret_cast<const char*>(data), size}, edid) <= vantorq::kEdidSize);
  return 0;
}
