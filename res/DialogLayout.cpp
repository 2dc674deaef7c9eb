#include "DialogLayout.h"

#include <array>

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
};

constexpr std::array kAboutControls{
    ControlSpec{kNoId, K::Icon, "", 11, 17, 20, 20},
    ControlSpec{kNoId, K::Label, "Matrix CONSOLE Version 1.0", 40, 10, 119, 8},
    ControlSpec{ids::kOk, K::PushButton, "OK", 178, 7, 50, 14, kStartsGroup},
};

constexpr DialogSpec kConsole{ids::kConsoleDialog, "Vantorq V0.1", 479, 334, kConsoleControls};
constexpr DialogSpec kAbout{ids::kAboutDialog, "About 8X8 Matrix controller", 235, 55,
                            kAboutControls};

}  // namespace

const DialogSpec& ConsoleDialog() { return kConsole; }
const DialogSpec& AboutDialog() { return kAbout; }

}  // namespace vantorq::res
