#include "PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>

#include "ComPorts.h"
#include "PortInfo.h"
#include "PortsFile.h"

namespace vantorq {

namespace {

QString Tooltip(unsigned port) { return QString::fromStdString(PortTooltip(DescribePort(ComDevicePath(port)))); }

// Keys that would move a closed list's selection, and with it open a port
// (closing the one in use, and a message box for each port that is not
// there). On the closed list they open it instead; inside the opened list
// they move, and Enter or a click makes the choice.
bool MovesSelection(const QKeyEvent& key) {
  if ((key.modifiers() & Qt::AltModifier) != 0) return false;  // Alt+Down opens, as ever
  switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      return true;
    default:
      // Typing a letter jumps to an item, as the arrows do.
      return !key.text().isEmpty() && key.text().at(0).isPrint() && key.text() != QStringLiteral(" ");
  }
}

// Adapters come and go, and reading sysfs for 99 ports is not worth
// delaying the window for: the tooltips are read when the list opens, and
// the closed list's own when the pointer rests on it.
class CPortListGuard final : public QObject {
 public:
  explicit CPortListGuard(QComboBox& list) : QObject(&list), m_list(list) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_list.view() && event->type() == QEvent::Show) RefreshPortTooltips(m_list);
    if (watched != &m_list) return false;
    switch (event->type()) {
      case QEvent::ToolTip:
        m_list.setToolTip(Tooltip(static_cast<unsigned>(m_list.currentIndex() + 1)));
        return false;
      case QEvent::KeyPress:
        if (!MovesSelection(static_cast<QKeyEvent&>(*event))) return false;
        m_list.showPopup();
        return true;
      case QEvent::Wheel:
        // A wheel turned over the closed list would open port after port.
        return true;
      default:
        return false;
    }
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
  ReadPortsFile();
  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) list.addItem(QStringLiteral("COM%1").arg(n));
  auto* guard = new CPortListGuard(list);
  list.view()->installEventFilter(guard);
  list.installEventFilter(guard);
}

}  // namespace vantorq
