#include "Reach.h"

#include <QLabel>
#include <QShortcut>
#include <QTabBar>

#include "DialogBuilder.h"

namespace vantorq {

void DescribeConsole(const res::CDialogControls& controls) {
  if (auto* lamp = controls.As<QLabel>(res::ids::kPortLamp)) {
    res::DescribeLamp(*lamp, QStringLiteral("port closed"), QStringLiteral("port open"),
                      QStringLiteral("Lit while the console has the COM port open"));
  }
  if (QWidget* list = controls.Get(res::ids::kPortList)) {
    list->setAccessibleName(QStringLiteral("COM port"));
    list->setAccessibleDescription(QStringLiteral("The port the console opens; choosing one opens it at once"));
    // The "Comm:" label names the list for a screen reader too.
    for (QWidget* w : controls.All()) {
      if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && label->text() == QStringLiteral("Comm:")) {
        label->setBuddy(list);
      }
    }
  }
  if (QWidget* status = controls.Get(res::ids::kStatusLine)) {
    status->setAccessibleName(QStringLiteral("Search status"));
    status->setAccessibleDescription(QStringLiteral("Says \"Please wait.....\" while a device search waits for an answer"));
  }
  if (QWidget* tab = controls.Get(res::ids::kTab)) tab->setAccessibleName(QStringLiteral("Pages"));
}

void InstallShortcuts(QWidget& window, res::CTabCtrl& tab, const std::function<void()>& about) {
  auto step = [&tab](int by) {
    const int count = tab.TabBar()->count();
    if (count > 0) tab.SetCurSel((tab.GetCurSel() + by + count) % count);
  };
  const struct {
    QKeySequence keys;
    int by;
  } moves[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
      {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
      {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
  };
  for (const auto& move : moves) {
    auto* shortcut = new QShortcut(move.keys, &window);
    QObject::connect(shortcut, &QShortcut::activated, &window, [step, by = move.by] { step(by); });
  }
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), &window);
  QObject::connect(help, &QShortcut::activated, &window, about);
}

}  // namespace vantorq
