#pragma once
// The port list of the main window: "COM1" .. "COM99", each item's tooltip
// naming the device behind it, and for a USB adapter which one it is (read
// when the list opens). The list acts on a confirmed choice only: keys
// that would move the closed list's selection open it instead.

class QComboBox;

namespace vantorq {

void FillPortList(QComboBox& list);
// Reads every port's description again (done whenever the list opens).
void RefreshPortTooltips(QComboBox& list);

}  // namespace vantorq
