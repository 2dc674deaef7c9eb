// The first vendor-specific data block, read as HDMI's: deep colour, 3D and
// the 4Kx2K video codes. Its IEEE identifier is not looked at.

#include "ReportText.h"
#include "Sections.h"

namespace vantorq::edid {

namespace {

// Payload byte k of the block, or nothing when it lies past the end.
bool PayloadByte(const EdidBytes& e, const DataBlock& block, int k, std::uint8_t& value) {
  if (!EdidBytes::Has(block.Payload(k))) return false;
  value = e.Byte(block.Payload(k));
  return true;
}

}  // namespace

void AppendDeepColor(const EdidBytes& e, std::string& general) {
  int f = 0;
  DataBlock block;
  std::uint8_t b6 = 0;
  if (FindBlock(e, kVendorBlock, block) && block.length >= 6 && PayloadByte(e, block, 6, b6)) {
    f = b6 & 0x78;
  }
  ReportText out(general);
  if ((f & 0x70) != 0) {
    out << "Deep Color:\r\n";
    if ((f & 0x40) != 0) out << "48Bit ";
    if ((f & 0x20) != 0) out << "36Bit ";
    if ((f & 0x10) != 0) out << "30Bit ";
    out << kCrLf;
  }
  out << ((f & 0x08) != 0 ? "YCbCr444 DeepColor:support\r\n" : "YCbCr444 DeepColor:not support\r\n");
}

void AppendHdmiVideo(const EdidBytes& e, std::string& general) {
  bool threeD = false;
  int m = 0;
  int k = 0;
  DataBlock block;
  std::uint8_t b8 = 0;
  if (FindBlock(e, kVendorBlock, block) && block.length >= 8 && PayloadByte(e, block, 8, b8) &&
      (b8 & 0x20) != 0) {
    k = 9;
    if ((b8 & 0x80) != 0) k += 2;  // latency fields
    if ((b8 & 0x40) != 0) k += 2;  // interlaced latency fields
    std::uint8_t flags = 0;
    std::uint8_t lengths = 0;
    if (PayloadByte(e, block, k, flags)) threeD = (flags & 0x80) != 0;
    if (PayloadByte(e, block, k + 1, lengths)) m = (lengths >> 5) & 7;
  }
  ReportText out(general);
  out << (threeD ? "3D video:support\r\n" : "3D video:not support\r\n") << kCrLf;
  if (m == 0) return;
  // The 4Kx2K list follows the count alone, 3D or not.
  out << "Extended Resolution(4Kx2K):\r\n";
  for (int i = 0; i < m; ++i) {
    std::uint8_t vic = 0;
    if (!PayloadByte(e, block, k + 2 + i, vic)) break;
    switch (vic) {
      case 1: out << "4Kx2K@30Hz\r\n"; break;
      case 2: out << "4Kx2K@25Hz\r\n"; break;
      case 3: out << "4Kx2K@24Hz\r\n"; break;
      case 4: out << "4Kx2K@24Hz(SMPTE)\r\n"; break;
      default: break;
    }
  }
}

}  // namespace vantorq::edid
