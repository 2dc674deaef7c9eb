#pragma once
// Dialog layouts as tables in dialog units, the way the console's windows
// were drawn: one row per control, in template order.

#include <span>
#include <string_view>

namespace vantorq::res {

enum class ControlKind {
  Icon,         // static picture
  PushButton,
  Label,        // static text
  ComboBox,     // drop-down list; the height is that of the open list
  TabControl,
  GroupBox,
  RadioButton,  // auto radio button
  TextBox,      // edit box
};

enum ControlFlag : unsigned {
  kNoFlags = 0,
  kStartsGroup = 1u << 0,
  kWrapText = 1u << 1,
  kDisabled = 1u << 2,
  kVScroll = 1u << 3,
  kStaticEdge = 1u << 4,
  kMultiLine = 1u << 5,
  kBorder = 1u << 6,
};

inline constexpr int kNoId = -1;

struct ControlSpec {
  int id;
  ControlKind kind;
  std::string_view text;
  int x, y, w, h;
  unsigned flags = kNoFlags;
};

struct DialogSpec {
  int id;
  std::string_view caption;  // empty: a child page without caption
  int w, h;
  std::span<const ControlSpec> controls;
};

// Control and resource ids shared by the code that builds and drives them.
namespace ids {
inline constexpr int kAboutDialog = 100;
inline constexpr int kConsoleDialog = 102;
inline constexpr int kAboutString = 101;
inline constexpr int kIconApp = 128;
inline constexpr int kIconLampOff = 133;
inline constexpr int kIconLampOn = 134;
inline constexpr int kIconBitOn = 180;
inline constexpr int kOk = 1;
inline constexpr int kTab = 1000;
inline constexpr int kPortButton = 1006;
inline constexpr int kPortLamp = 1007;
inline constexpr int kPortList = 1106;
inline constexpr int kSearchButton = 1107;
inline constexpr int kStatusLine = 1108;
// Ours, beside the form's: what the port row has to say (no answer, a
// click that sent nothing, why the line failed).
inline constexpr int kPortNote = 1109;
inline constexpr int kAboutVersion = 1111;

inline constexpr int kSettingsDialog = 179;
inline constexpr int kLampEnhHigh = 1008;
inline constexpr int kLampEnhLow = 1315;
inline constexpr int kLampScalerHigh = 1010;
inline constexpr int kLampScalerLow = 1009;
inline constexpr int kEnhancementFirst = 1307;  // Off, Weak, Medium, Strong
inline constexpr int kScalerFirst = 1311;       // BYPASS, 4K->2K, 2K->4K, HDBT C mode

inline constexpr int kEdidDialog = 180;
inline constexpr int kPresetFirst = 1320;  // 16 presets, 1320..1335
inline constexpr int kLampBit3 = 1318;
inline constexpr int kLampBit2 = 1317;
inline constexpr int kLampBit1 = 1316;
inline constexpr int kLampBit0 = 1319;
inline constexpr int kLoadButton = 1097;
inline constexpr int kReadButton = 1096;
inline constexpr int kInputPort = 1336;
inline constexpr int kOutputPort = 1337;
inline constexpr int kBasicInfo = 1110;
inline constexpr int kDetailsButton = 1098;  // ours: the whole EDID in a window
}  // namespace ids

const DialogSpec& ConsoleDialog();
const DialogSpec& AboutDialog();
const DialogSpec& SettingsDialog();
const DialogSpec& EdidDialog();

}  // namespace vantorq::res
