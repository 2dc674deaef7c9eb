// The CEA-861 extension's timings, its first data block's video codes, and
// the capability flags of its header.

#include "EdidTables.h"
#include "ReportText.h"
#include "Sections.h"

namespace vantorq::edid {

namespace {

constexpr std::size_t kExtension = 128;
constexpr std::size_t kFirstDataBlock = 132;

}  // namespace

void AppendExtensionTimings(const EdidBytes& e, std::string& video) {
  if (!e.HasCeaExtension()) return;
  const std::size_t d = e.DtdOffset();
  if (d >= 127) return;
  // (144 - d) / 18 slots: one more than fit before the checksum when d
  // leaves a remainder; that last slot runs past the end and is skipped.
  const std::size_t slots = (144 - d) / 18;
  ReportText out(video);
  int number = 0;
  for (std::size_t k = 0; k < slots; ++k) {
    const std::size_t o = kExtension + d + 18 * k;
    if (e.Byte(o) == 0 || e.Byte(o + 1) == 0) continue;
    DetailedTiming t;
    if (!ReadTiming(e, o, t)) continue;
    out << "Extension Detailed Timing" << ++number << ':' << t.hActive << 'x' << t.ShownHeight()
        << (t.interlaced ? "i@" : "@") << t.Refresh() << "Hz\r\n";
  }
}

void AppendShortVideoDescriptors(const EdidBytes& e, std::string& video) {
  if (!e.HasCeaExtension()) return;
  ReportText out(video);
  out << kCrLf << "Short Video Descripter\r\n";
  // The first block of the collection, whatever its tag and whatever d.
  const std::size_t count = e.Byte(kFirstDataBlock) & 0x1Fu;
  for (std::size_t i = 1; i <= count; ++i) {
    const std::uint8_t s = e.Byte(kFirstDataBlock + i);
    const std::string_view label = VicLabel(s & 0x7F);
    if (label.empty()) continue;
    out << label;
    if ((s & 0x80) != 0) out << "  Native";
    out << kCrLf;
  }
}

void AppendDeviceSupport(const EdidBytes& e, std::string& general) {
  const std::uint8_t flags = e.Byte(131);
  if ((flags & 0x70) == 0) return;
  ReportText out(general);
  out << "Extension Device Support:\r\n";
  if ((flags & 0x40) != 0) out << "Base Audio\r\n";
  if ((flags & 0x20) != 0) out << "YCbCr4:4:4\r\n";
  if ((flags & 0x10) != 0) out << "YCbCr4:2:2\r\n";
  out << kCrLf;
}

void AppendNativeTimings(const EdidBytes& e, std::string& general) {
  int native = 0;
  DataBlock block;
  if (FindBlock(e, kVideoBlock, block)) {
    for (int k = 1; k <= block.length; ++k) {
      if (!EdidBytes::Has(block.Payload(k))) break;
      if ((e.Byte(block.Payload(k)) & 0x80) != 0) ++native;
    }
  }
  ReportText(general) << "Native Timings:" << native << kCrLf;
}

}  // namespace vantorq::edid
