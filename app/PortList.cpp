#include "PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

#include "ComPorts.h"
#include "PortInfo.h"

namespace vantorq {

namespace {

QString Tooltip(unsigned port) { return QString::fromStdString(PortTooltip(DescribePort(ComDevicePath(port)))); }

// Adapters come and go, and reading sysfs for 99 ports is not worth
// delaying the window for: the tooltips are read when the list opens, and
// the closed list's own when the pointer rests on it.
class CTooltipReader final : public QObject {
 public:
  explicit CTooltipReader(QComboBox& list) : QObject(&list), m_list(list) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_list.view() && event->type() == QEvent::Show) RefreshPortTooltips(m_list);
    if (watched == &m_list && event->type() == QEvent::ToolTip) {
      m_list.setToolTip(Tooltip(static_cast<unsigned>(m_list.currentIndex() + 1)));
    }
    return false;
  }

 private:
  QComboBox& m_list;
};

}  // namespace

void RefreshPortTooltips(QComboBox& list) {
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
    list.setItemData(static_cast<int>(n - 1), Tooltip(n), Qt::ToolTipRole);
  }
}

void FillPortList(QComboBox& list) {
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) list.addItem(QStringLiteral("COM%1").arg(n));
  auto* reader = new CTooltipReader(list);
  list.view()->installEventFilter(reader);
  list.installEventFilter(reader);
}

}  // namespace vantorq
