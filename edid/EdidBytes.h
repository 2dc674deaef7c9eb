#pragma once
// The one way the decoder reads an EDID: through a view of exactly 256
// bytes that is asked before anything is read.
//
// The rule for fields past the end. Only a malformed extension can place a
// field beyond byte 255 (a data block running past the end, an offset d
// above 127, a 4:2:0 bit naming a byte past the end). Such an item is
// skipped: it is decoded as if it were absent, never from invented bytes.
// Items lie in increasing byte order, so skipping one also ends its list.
// Every reader below follows that rule through Has(); Byte() additionally
// answers 0 past the end, so that a missed check can never read outside.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>


#include "EdidBuffer.h"

namespace vantorq::edid {

class EdidBytes {
 public:
  explicit EdidBytes(std::span<const std::uint8_t, kEdidSize> bytes) : m_bytes(bytes) {}

  // Bytes first .. first + count - 1 all exist.
  static constexpr bool Has(std::size_t first, std::size_t count = 1) {
    return count == 0 || (first < kEdidSize && count <= kEdidSize - first);
  }
  std::uint8_t Byte(std::size_t i) const { return i < kEdidSize ? m_bytes[i] : 0; }

  // A CEA-861 extension follows the base block.
  bool HasCeaExtension() const { return Byte(126) != 0 && Byte(128) == 0x02; }
  // The extension's offset to its first detailed timing, from byte 128.
  std::size_t DtdOffset() const { return Byte(130); }

 private:
  std::span<const std::uint8_t, kEdidSize> m_bytes;
};

// The fields of an 18-byte detailed timing descriptor.
struct DetailedTiming {
  int clock = 0;  // 10 kHz units
  int hActive = 0;
  int hBlank = 0;
  int vActive = 0;
  int vBlank = 0;
  bool interlaced = false;

  // Frames (or fields, when interlaced) per second, rounded as the
  // reports always have: clock x 10000 / htotal / vtotal + 0.5, in double.
  int Refresh() const;
  // The height to show: both fields of an interlaced timing.
  int ShownHeight() const { return interlaced ? 2 * vActive : vActive; }
};

// The descriptor at `offset`; false when any of its 18 bytes is missing.
bool ReadTiming(const EdidBytes& edid, std::size_t offset, DetailedTiming& timing);

// A data block of the extension's collection.
struct DataBlock {
  std::size_t header = 0;  // byte index of the header
  int length = 0;          // L: payload bytes

  std::size_t Payload(int k) const { return header + static_cast<std::size_t>(k); }
};

inline constexpr int kAudioBlock = 1;
inline constexpr int kVideoBlock = 2;
inline constexpr int kVendorBlock = 3;
inline constexpr int kExtendedBlock = 7;

// The first block with `tag` among those that start before the extension's
// detailed timings; false if none does (or its header lies past the end).
bool FindBlock(const EdidBytes& edid, int tag, DataBlock& block);

}  // namespace vantorq::edid
