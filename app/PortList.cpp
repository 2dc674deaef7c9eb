#include "PortList.h"

#include <QComboBox>

#include "ComPorts.h"

namespace vantorq {

void FillPortList(QComboBox& list) {
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
    list.addItem(QStringLiteral("COM%1").arg(n));
    list.setItemData(static_cast<int>(n - 1), QString::fromStdString(ComDevicePath(n)), Qt::ToolTipRole);
  }
}

}  // namespace vantorq
