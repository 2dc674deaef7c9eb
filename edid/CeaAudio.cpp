// The first audio data block's short audio descriptors.

#include "EdidTables.h"
#include "ReportText.h"
#include "Sections.h"

namespace vantorq::edid {

void AppendShortAudioDescriptors(const EdidBytes& e, std::string& audio) {
  DataBlock block;
  if (!e.HasCeaExtension() || !FindBlock(e, kAudioBlock, block) || block.length < 2) return;
  ReportText out(audio);
  // When L is not a multiple of 3 the last descriptor takes bytes from
  // beyond its block; only bytes past the end of the EDID end the list.
  for (int i = 1; i < block.length; i += 3) {
    if (!EdidBytes::Has(block.Payload(i), 3)) break;
    const std::uint8_t s1 = e.Byte(block.Payload(i));
    const std::uint8_t s2 = e.Byte(block.Payload(i + 1));
    const std::uint8_t s3 = e.Byte(block.Payload(i + 2));
    out << "Audio Format:" << AudioFormatTable[(s1 >> 3) & 0x0F] << kCrLf;
    out << "Audio Channel(s):" << (s1 & 7) + 1 << kCrLf;
    out << "Sample Frequency:\r\n";
    for (int bit = 6; bit >= 0; --bit) {
      if ((s2 >> bit) & 1) out << SampleRateTable[static_cast<std::size_t>(bit)] << kCrLf;
    }
    out << kCrLf;
    if ((s3 & 7) != 0) {
      out << "Sample Bit:\r\n";
      for (int bit = 2; bit >= 0; --bit) {
        if ((s3 >> bit) & 1) out << SampleSizeTable[static_cast<std::size_t>(bit)] << " \r\n";
      }
      out << kCrLf;
    }
    out << kCrLf;
  }
}

}  // namespace vantorq::edid
