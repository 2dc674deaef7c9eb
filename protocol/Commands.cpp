#include "Commands.h"

#include "Hex.h"

#include <string_view>

namespace vantorq::protocol {

namespace {

// Writes bytes into a command one piece at a time.
template <std::size_t N>
class Builder {
 public:
  Builder& Text(std::string_view text) {
    for (char c : text) Byte(static_cast<std::uint8_t>(c));
    return *this;
  }
  Builder& Byte(std::uint8_t b) {
    if (m_pos < N) m_bytes[m_pos] = b;
    ++m_pos;
    return *this;
  }
  // The digit arithmetic is the device's own and is kept as is: callers
  // pass values in range, and the byte simply wraps if one ever is not.
  Builder& Digit(int value, char zero = '0') { return Byte(static_cast<std::uint8_t>(zero + value)); }
  // Tens and units of a preset number.
  Builder& TwoDigits(int value) { return Digit(value / 10).Digit(value % 10); }
  Builder& Crlf() { return Text("\r\n"); }
  CommandBytes<N> Done() const { return m_bytes; }

 private:
  CommandBytes<N> m_bytes{};
  std::size_t m_pos = 0;
};

}  // namespace

CommandBytes<kProbeLength> ProbeCommand() {
  return Builder<kProbeLength>().Crlf().Text("GET STA").Crlf().Done();
}

CommandBytes<kEnhancementLength> EnhancementCommand(int level) {
  return Builder<kEnhancementLength>()
      .Crlf()
      .Text("SET OUT1 IMAGE ENH ")
      .Digit(level)
      .Crlf()
      .Done();
}

CommandBytes<kScalerLength> ScalerCommand(int mode) {
  return Builder<kScalerLength>()
      .Crlf()
      .Text("SET OUT1 VIDEO")
      .Digit(mode, '1')
      .Crlf()
      .Done();
}

CommandBytes<kPresetLength> PresetCommand(int preset) {
  return Builder<kPresetLength>()
      .Crlf()
      .Text("SET IN1 EDID ")
      .TwoDigits(preset)
      .Crlf()
      .Done();
}

CommandBytes<kInputEdidReadLength> InputEdidReadCommand(int preset) {
  return Builder<kInputEdidReadLength>()
      .Crlf()
      .Text("GET IN1 EDID ")
      .TwoDigits(preset)
      .Text(" DATA")
      .Crlf()
      .Done();
}

CommandBytes<kOutputEdidReadLength> OutputEdidReadCommand() {
  return Builder<kOutputEdidReadLength>().Crlf().Text("GET OUT1 EDID  DATA").Crlf().Done();
}

CommandBytes<kUserEdidWriteLength> UserEdidWriteCommand(EdidView edid) {
  Builder<kUserEdidWriteLength> b;
  b.Text("SET IN1 EDID U1 DATA ");
  for (std::size_t i = 0; i < edid.size(); ++i) {
    b.Byte(static_cast<std::uint8_t>(kUpperHexDigits[edid[i] >> 4]));
    b.Byte(static_cast<std::uint8_t>(kUpperHexDigits[edid[i] & 0x0F]));
    if (i + 1 < edid.size()) b.Byte(' ');
  }
  return b.Crlf().Done();
}

}  // namespace vantorq::protocol
