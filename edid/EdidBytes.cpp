#include "EdidBytes.h"

namespace vantorq::edid {

int DetailedTiming::Refresh() const {
  const int hTotal = hActive + hBlank;
  const int vTotal = vActive + vBlank;
  if (hTotal == 0 || vTotal == 0) return 0;
  return static_cast<int>(static_cast<double>(clock) * 10000.0 / hTotal / vTotal + 0.5);
}

bool ReadTiming(const EdidBytes& e, std::size_t o, DetailedTiming& t) {
  if (!EdidBytes::Has(o, 18)) return false;
  t.clock = e.Byte(o) + e.Byte(o + 1) * 256;
  t.hActive = e.Byte(o + 2) + (e.Byte(o + 4) & 0xF0) * 16;
  t.hBlank = e.Byte(o + 3) + (e.Byte(o + 4) & 0x0F) * 256;
  t.vActive = e.Byte(o + 5) + (e.Byte(o + 7) & 0xF0) * 16;
  t.vBlank = e.Byte(o + 6) + (e.Byte(o + 7) & 0x0F) * 256;
  t.interlaced = (e.Byte(o + 17) & 0x80) != 0;
  return true;
}

bool FindBlock(const EdidBytes& e, int tag, DataBlock& block) {
  const std::size_t d = e.DtdOffset();
  for (std::size_t p = 4; p < d; p += (e.Byte(128 + p) & 0x1Fu) + 1) {
    // A header past the end: the collection ends there.
    if (!EdidBytes::Has(128 + p)) return false;
    const std::uint8_t h = e.Byte(128 + p);
    if ((h >> 5) == tag) {
      block = {128 + p, h & 0x1F};
      return true;
    }
  }
  return false;
}

}  // namespace vantorq::edid
