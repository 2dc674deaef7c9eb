#include "PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

#include "ComPorts.h"
#include "PortInfo.h"

namespace vantorq {

namespace {

// Adapters come and go: the tooltips are read anew each time the list opens.
class CTooltipRefresh final : public QObject {
 public:
  explicit CTooltipRefresh(QComboBox& list) : QObject(&list), m_list(list) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) RefreshPortTooltips(m_list);
    return false;
  }

 private:
  QComboBox& m_list;
};

}  // namespace

void RefreshPortTooltips(QComboBox& list) {
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
    const std::string tip = PortTooltip(DescribePort(ComDevicePath(n)));
    list.setItemData(static_cast<int>(n - 1), QString::fromStdString(tip), Qt::ToolTipRole);
  }
  list.setToolTip(list.itemData(list.currentIndex(), Qt::ToolTipRole).toString());
}

void FillPortList(QComboBox& list) {
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) list.addItem(QStringLiteral("COM%1").arg(n));
  RefreshPortTooltips(list);
  list.view()->installEventFilter(new CTooltipRefresh(list));
  QObject::connect(&list, &QComboBox::currentIndexChanged, &list,
                   [&list](int index) { list.setToolTip(list.itemData(index, Qt::ToolTipRole).toString()); });
}

}  // namespace vantorq
