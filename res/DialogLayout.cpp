#include "DialogLayout.h"

#include <array>
#include <utility>

#include "Presets.h"

namespace vantorq::res {

namespace {

using K = ControlKind;

constexpr std::array kConsoleControls{
    ControlSpec{ids::kPortLamp, K::Icon, "", 7, 10, 20, 20},
    ControlSpec{ids::kPortButton, K::PushButton, "Turn on Port", 52, 7, 53, 14},
    ControlSpec{kNoId, K::Label, "Comm:", 33, 27, 21, 8},
    ControlSpec{ids::kPortList, K::ComboBox, "", 54, 25, 52, 154, kVScroll},
    ControlSpec{ids::kStatusLine, K::Label, "", 13, 45, 87, 8},
    ControlSpec{ids::kSearchButton, K::PushButton, "Search Machine", 7, 57, 101, 22},
    ControlSpec{ids::kTab, K::TabControl, "", 116, 7, 356, 320, kStaticEdge},
    ControlSpec{ids::kPortNote, K::Label, "", 7, 86, 101, 72, kWrapText},
};

constexpr std::array kAboutControls{
    ControlSpec{kNoId, K::Icon, "", 11, 17, 20, 20},
    ControlSpec{kNoId, K::Label, "Matrix CONSOLE Version 1.0", 40, 10, 119, 8},
    ControlSpec{ids::kOk, K::PushButton, "OK", 178, 7, 50, 14, kStartsGroup},
    ControlSpec{ids::kAboutVersion, K::Label, "", 40, 22, 119, 8},
};

constexpr DialogSpec kConsole{ids::kConsoleDialog, "Vantorq V0.1", 479, 334, kConsoleControls};
constexpr DialogSpec kAbout{ids::kAboutDialog, "About 8X8 Matrix controller", 235, 55,
                            kAboutControls};

constexpr std::array kSettingsControls{
    ControlSpec{ids::kLampEnhLow, K::Icon, "", 116, 179, 21, 23},
    ControlSpec{ids::kLampEnhHigh, K::Icon, "", 67, 181, 20, 20},
    ControlSpec{ids::kLampScalerLow, K::Icon, "", 267, 183, 21, 23},
    ControlSpec{ids::kLampScalerHigh, K::Icon, "", 216, 183, 21, 23},
    ControlSpec{kNoId, K::GroupBox, "2K->4K Video Enhancement", 46, 31, 114, 186},
    ControlSpec{kNoId, K::GroupBox, "Scaler setting", 194, 34, 114, 186},
    ControlSpec{1307, K::RadioButton, protocol::kEnhancementNames[0], 90, 53, 28, 10, kStartsGroup},
    ControlSpec{1308, K::RadioButton, protocol::kEnhancementNames[1], 90, 82, 32, 10},
    ControlSpec{1309, K::RadioButton, protocol::kEnhancementNames[2], 90, 114, 40, 10},
    ControlSpec{1310, K::RadioButton, protocol::kEnhancementNames[3], 90, 148, 40, 10},
    ControlSpec{kNoId, K::Label, "0 0", 67, 53, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "0 1", 67, 82, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "1 0", 67, 114, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "1 1", 67, 148, 13, 8, kStartsGroup},
    ControlSpec{1311, K::RadioButton, protocol::kScalerModeNames[0], 239, 53, 40, 10, kStartsGroup},
    ControlSpec{1312, K::RadioButton, protocol::kScalerModeNames[1], 239, 82, 40, 10},
    ControlSpec{1313, K::RadioButton, protocol::kScalerModeNames[2], 239, 114, 40, 10},
    ControlSpec{1314, K::RadioButton, protocol::kScalerModeNames[3], 239, 149, 60, 10},
    ControlSpec{kNoId, K::Label, "0 0", 217, 53, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "0 1", 217, 82, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "1 0", 217, 114, 13, 8, kStartsGroup},
    ControlSpec{kNoId, K::Label, "1 1", 217, 149, 13, 8, kStartsGroup},
};

// Rows of the preset table: a base-2 label and a radio button per preset.
constexpr int kPresetRowY(int index) { return 14 + 10 * index; }

template <std::size_t... I>
constexpr auto PresetRows(std::index_sequence<I...>) {
  constexpr std::array<std::string_view, 16> kRowLabels{
      "0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
      "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};
  return std::array{
      ControlSpec{kNoId, K::Label, kRowLabels[I], 71, kPresetRowY(I), 17, 8}...,
      ControlSpec{ids::kPresetFirst + static_cast<int>(I), K::RadioButton,
                  protocol::kPresetNames[I], 90, kPresetRowY(I), 88, 10,
                  I == 0 ? kStartsGroup : kNoFlags}...,
  };
}

constexpr auto kPresetControls = PresetRows(std::make_index_sequence<16>());

constexpr std::array kEdidOtherControls{
    ControlSpec{ids::kLampBit3, K::Icon, "", 70, 173, 18, 20},
    ControlSpec{ids::kLampBit2, K::Icon, "", 96, 173, 18, 20},
    ControlSpec{ids::kLampBit1, K::Icon, "", 119, 173, 18, 20},
    ControlSpec{ids::kLampBit0, K::Icon, "", 139, 173, 18, 20},
    ControlSpec{ids::kLoadButton, K::PushButton, "Load EDID file and write to input port user EDID",
                20, 216, 125, 21, kWrapText},
    ControlSpec{ids::kReadButton, K::PushButton, "Read EDID data and save to file", 19, 249, 85, 21,
                kWrapText},
    ControlSpec{kNoId, K::GroupBox, "", 105, 242, 61, 34},
    ControlSpec{ids::kInputPort, K::RadioButton, "Input port", 107, 248, 50, 10, kStartsGroup},
    ControlSpec{ids::kOutputPort, K::RadioButton, "Output port", 107, 262, 54, 10},
    ControlSpec{kNoId, K::Label, "Basic EDID infomation:", 170, 200, 89, 8, kStartsGroup},
    ControlSpec{ids::kBasicInfo, K::TextBox, "", 169, 210, 131, 70, kMultiLine | kBorder | kDisabled},
    ControlSpec{ids::kDetailsButton, K::PushButton, "Details\u2026", 262, 194, 38, 12},
};

template <std::size_t A, std::size_t B, std::size_t C>
constexpr auto Join(const std::array<ControlSpec, A>& a, const std::array<ControlSpec, B>& b,
                    const std::array<ControlSpec, C>& c) {
  std::array<ControlSpec, A + B + C> out{};
  std::size_t n = 0;
  for (const auto& x : a) out[n++] = x;
  for (const auto& x : b) out[n++] = x;
  for (const auto& x : c) out[n++] = x;
  return out;
}

constexpr std::array kEdidFrame{ControlSpec{kNoId, K::GroupBox, "", 48, 7, 133, 189}};
constexpr auto kEdidControls = Join(kEdidFrame, kPresetControls, kEdidOtherControls);

constexpr DialogSpec kSettings{ids::kSettingsDialog, "", 359, 311, kSettingsControls};
constexpr DialogSpec kEdid{ids::kEdidDialog, "", 310, 285, kEdidControls};

}  // namespace

const DialogSpec& ConsoleDialog() { return kConsole; }
const DialogSpec& AboutDialog() { return kAbout; }
const DialogSpec& SettingsDialog() { return kSettings; }
const DialogSpec& EdidDialog() { return kEdid; }

}  // namespace vantorq::res
