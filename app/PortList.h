#pragma once
// The port list of the main window: "COM1" .. "COM99", each item's tooltip
// naming the device behind it.

class QComboBox;

namespace vantorq {

void FillPortList(QComboBox& list);

}  // namespace vantorq
