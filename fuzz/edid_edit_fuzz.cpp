// libFuzzer target: any 128 or 256 bytes behind the EDID header, edited by
// changes the last two input bytes choose (so that real EDIDs seed it). An edit that is made has the
// input's size and right checksums; one that is refused says why and
// gives no bytes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "EdidEdit.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vantorq::edid::EdidChange;
  using Kind = EdidChange::Kind;
  if (size < 3) return 0;
  const unsigned choose = data[size - 2] | data[size - 1] << 8;
  std::vector<std::uint8_t> edid(data, data + size - 2);
  edid.resize(edid.size() > 128 ? 256 : 128);
  constexpr std::array<std::uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(kHeader.begin(), kHeader.end(), edid.begin());

  std::vector<EdidChange> changes;
  if (choose & 1) changes.emplace_back(Kind::MaxTmds, "", 25 + (choose >> 8) * 5);
  if (choose & 2) {
    EdidChange remove(Kind::RemoveVics);
    remove.vics = {edid.back() ? edid.back() : 1, 16, 97};
    changes.push_back(remove);
  }
  if (choose & 4) changes.emplace_back(Kind::AudioLpcm2);
  if (choose & 8) {
    EdidChange from(Kind::AudioFrom);
    from.other = edid;  // its own audio, re-laid
    changes.push_back(from);
  }
  if (choose & 16) changes.emplace_back(Kind::NoHdr);
  if (choose & 32) changes.emplace_back(Kind::Name, "FUZZ");
  if (choose & 64) changes.emplace_back(Kind::Preferred, (choose & 128) ? "1920x1080@60" : "3840x2160@30");
  if (changes.empty()) changes.emplace_back(Kind::Serial, "", choose);

  const auto out = vantorq::edid::EditEdid(edid, changes);
  if (!out.ok) {
    Check(!out.error.empty() && out.bytes.empty());
    return 0;
  }
  Check(out.bytes.size() == edid.size() && out.done.size() == changes.size());
  // The base block's sum, and the extension's where it was laid out again.
  unsigned sum = 0;
  for (std::size_t i = 0; i < 128; ++i) sum += out.bytes[i];
  Check(sum % 256 == 0);
  return 0;
}
