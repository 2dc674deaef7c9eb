// The first extended-tag data block, and of it only the two YCbCr 4:2:0
// kinds; a later extended-tag block is never looked at.

#include "EdidTables.h"
#include "ReportText.h"
#include "Sections.h"

namespace vantorq::edid {

namespace {

constexpr int kY420VideoBlock = 14;
constexpr int kY420CapabilityMap = 15;
constexpr std::size_t kFirstSvd = 133;  // payload byte 1 of the collection's first block

void AppendLabel(ReportText& out, std::uint8_t code) {
  const std::string_view label = VicLabel(code & 0x7F);
  if (!label.empty()) out << label << kCrLf;
}

}  // namespace

void AppendYcbcr420(const EdidBytes& e, std::string& general) {
  DataBlock block;
  if (!FindBlock(e, kExtendedBlock, block) || block.length == 0 || !EdidBytes::Has(block.Payload(1))) {
    return;
  }
  const int tag = e.Byte(block.Payload(1));
  const int n = block.length - 1;
  ReportText out(general);
  if (tag == kY420VideoBlock) {
    out << "\r\nY420VDB Descripter :\r\n";
    for (int k = 2; k <= block.length && EdidBytes::Has(block.Payload(k)); ++k) {
      AppendLabel(out, e.Byte(block.Payload(k)));
    }
  } else if ((tag & 0x1F) == kY420CapabilityMap) {
    out << "\r\nY420CMDB Descripter :\r\n";
    if (n == 0) {
      out << "All SVDs do support YUV420\r\n";
      return;
    }
    for (int i = 0; i < n && EdidBytes::Has(block.Payload(2 + i)); ++i) {
      const std::uint8_t map = e.Byte(block.Payload(2 + i));
      for (int j = 0; j < 8; ++j) {
        if (((map >> j) & 1) == 0) continue;
        // Bit j of map byte i names the first block's payload byte
        // 8i + j + 1, with no look at that block's own length.
        const std::size_t svd = kFirstSvd + 8 * static_cast<std::size_t>(i) + static_cast<std::size_t>(j);
        if (!EdidBytes::Has(svd)) continue;
        AppendLabel(out, e.Byte(svd));
      }
    }
  }
}

}  // namespace vantorq::edid
