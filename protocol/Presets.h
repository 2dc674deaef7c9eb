#pragma once
// The device's sixteen EDID presets of input 1, and the Settings choices,
// by the numbers the pages give them.

#include <array>
#include <string_view>

namespace vantorq::protocol {

inline constexpr int kPresetCount = 16;
inline constexpr int kBypassPreset = 0;
inline constexpr int kUserPreset = 15;

inline constexpr std::array<std::string_view, kPresetCount> kPresetNames{
    "EDID bypass",       "1080P_2CH",         "1080P_3D_2CH",      "4K30Hz_3D_2CH",
    "4K30Hz_3D_6CH",     "4K60Hz_3D_2CH",     "4K60Hz_3D_6CH",     "4K60Hz_3D_8CH",
    "1080P_2CH_HDR",     "1080P_3D_2CH_HDR",  "4K30Hz_3D_2CH_HDR", "4K30Hz_3D_6CH_HDR",
    "4K60Hz_3D_2CH_HDR", "4K60Hz_3D_6CH_HDR", "4K60Hz_3D_8CH_HDR", "User_EDID",
};

// The Settings page's choices, by index (the scaler mode's index is one
// less than the digit the device's VIDEO status line carries).
inline constexpr int kLevelCount = 4;
inline constexpr std::array<std::string_view, kLevelCount> kEnhancementNames{"Off", "Weak", "Medium", "Strong"};
inline constexpr std::array<std::string_view, kLevelCount> kScalerModeNames{"BYPASS", "4K->2K", "2K->4K", "HDBT C mode"};

}  // namespace vantorq::protocol
