// The 128-byte base block: timings, vendor identity and the display
// descriptors that are scanned for at every offset.

#include <array>

#include "ReportText.h"
#include "Sections.h"

namespace vantorq::edid {

namespace {

constexpr std::size_t kPreferredTiming = 54;
constexpr std::array<std::size_t, 3> kOtherDescriptors{72, 90, 108};
// Display descriptors are looked for at every byte of this range, not
// only where descriptors start.
constexpr std::size_t kScanFirst = 54;
constexpr std::size_t kScanLast = 108;
constexpr std::uint8_t kProductNameTag = 0xFC;
constexpr std::uint8_t kRangeLimitsTag = 0xFD;

bool DisplayDescriptorAt(const EdidBytes& e, std::size_t i, std::uint8_t tag) {
  // The tag first: at almost every offset it is what tells them apart.
  return e.Byte(i + 3) == tag && e.Byte(i) == 0 && e.Byte(i + 1) == 0 && e.Byte(i + 2) == 0;
}

}  // namespace

void AppendPreferredTiming(const EdidBytes& e, std::string& video) {
  // Taken as a timing whatever the descriptor holds.
  DetailedTiming t;
  ReadTiming(e, kPreferredTiming, t);
  ReportText out(video);
  out << "Preferred Timing:" << t.hActive << 'x' << t.ShownHeight();
  if (t.interlaced) {
    out << "i@" << t.Refresh() << "Hz \r\n";
  } else {
    out << '@' << t.Refresh() << "Hz\r\n";
  }
}

void AppendBaseDescriptors(const EdidBytes& e, std::string& video) {
  ReportText out(video);
  for (std::size_t o : kOtherDescriptors) {
    // Either clock byte zero: a display descriptor or no timing at all.
    if (e.Byte(o) == 0 || e.Byte(o + 1) == 0) continue;
    DetailedTiming t;
    ReadTiming(e, o, t);
    out << "Detailed Timing:" << t.hActive << 'x' << t.ShownHeight() << (t.interlaced ? "i@" : "@")
        << t.Refresh() << "Hz\r\n";
  }
}

void AppendVendorIdentity(const EdidBytes& e, std::string& general) {
  const int b8 = e.Byte(8);
  const int b9 = e.Byte(9);
  // The first letter takes six bits, bit 7 of byte 8 included.
  const char letters[3] = {
      static_cast<char>(((b8 >> 2) & 0x3F) + 0x40),
      static_cast<char>((((b8 & 0x03) << 3) | (b9 >> 5)) + 0x40),
      static_cast<char>((b9 & 0x1F) + 0x40),
  };
  ReportText out(general);
  out << "Manufacture's Name:" << std::string_view(letters, 3) << kCrLf;
  out << "Product Code:" << (e.Byte(10) + e.Byte(11) * 256) << kCrLf;
  out << "Video Signal Interface:" << ((e.Byte(20) & 0x80) != 0 ? "Digtal" : "Analog") << kCrLf;
  out << "Color Bit Depth:Reserved\r\n";
}

void AppendProductName(const EdidBytes& e, std::string& general) {
  // One field for every match: a later, shorter name is copied over an
  // earlier one without clearing it first.
  std::array<char, 14> field;
  field.fill(' ');
  bool found = false;
  for (std::size_t i = kScanFirst; i <= kScanLast; ++i) {
    if (!DisplayDescriptorAt(e, i, kProductNameTag)) continue;
    found = true;
    for (std::size_t j = 0; j < field.size(); ++j) {
      const std::uint8_t b = e.Byte(i + 5 + j);
      if (b == 0x0A) break;
      field[j] = static_cast<char>(b);
    }
    field[13] = '\0';
  }
  if (!found) return;
  std::string_view name(field.data(), 13);
  name = name.substr(0, name.find('\0'));  // a zero byte ends the name
  ReportText(general) << "Display Product Name:" << name << kCrLf;
}

void AppendRangeLimits(const EdidBytes& e, std::string& general) {
  ReportText out(general);
  for (std::size_t i = kScanFirst; i <= kScanLast; ++i) {
    if (!DisplayDescriptorAt(e, i, kRangeLimitsTag)) continue;
    // The rate offset flags of byte i + 4 are not applied.
    out << "Vertical Rate:" << e.Byte(i + 5) << "Hz--" << e.Byte(i + 6) << "Hz\r\n";
    out << "Horizontal Rate:" << e.Byte(i + 7) << "KHz--" << e.Byte(i + 8) << "KHz\r\n";
    out << "Maximum Pixel Clock:" << e.Byte(i + 9) * 10 << "MHz\r\n";
  }
}

}  // namespace vantorq::edid
