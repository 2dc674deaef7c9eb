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
}  // namespace ids

const DialogSpec& ConsoleDialog();
const DialogSpec& AboutDialog();

}  // namespace vantorq::res
