#pragma once
// Every command line the console sends, built as the exact bytes the
// device expects: CR LF, the text, CR LF (the user-EDID write alone has no
// leading CR LF). Fixed-size arrays: nothing is allocated per command.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "EdidBuffer.h"

namespace vantorq::protocol {

inline constexpr std::size_t kProbeLength = 11;
inline constexpr std::size_t kEnhancementLength = 24;
inline constexpr std::size_t kScalerLength = 19;
inline constexpr std::size_t kPresetLength = 19;
inline constexpr std::size_t kInputEdidReadLength = 24;
inline constexpr std::size_t kOutputEdidReadLength = 23;
inline constexpr std::size_t kUserEdidWriteLength = 790;

template <std::size_t N>
using CommandBytes = std::array<std::uint8_t, N>;

// CR LF "GET STA" CR LF: the device search's probe.
CommandBytes<kProbeLength> ProbeCommand();
// CR LF "SET OUT1 IMAGE ENH " d CR LF, d = '0' + level.
CommandBytes<kEnhancementLength> EnhancementCommand(int level);
// CR LF "SET OUT1 VIDEO" n CR LF, n = '1' + mode (no blank before n).
CommandBytes<kScalerLength> ScalerCommand(int mode);
// CR LF "SET IN1 EDID " t u CR LF, t u = '0' + preset / 10, '0' + preset % 10.
CommandBytes<kPresetLength> PresetCommand(int preset);
// CR LF "GET IN1 EDID " t u " DATA" CR LF.
CommandBytes<kInputEdidReadLength> InputEdidReadCommand(int preset);
// CR LF "GET OUT1 EDID  DATA" CR LF (two blanks).
CommandBytes<kOutputEdidReadLength> OutputEdidReadCommand();
// "SET IN1 EDID U1 DATA ", the bytes as upper-case hex pairs separated by
// single blanks, CR LF.
CommandBytes<kUserEdidWriteLength> UserEdidWriteCommand(EdidView edid);

}  // namespace vantorq::protocol
