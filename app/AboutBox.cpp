#include "AboutBox.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include "DialogBuilder.h"
#include "Resources.h"

namespace vantorq {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  const auto controls = res::BuildDialog(*this, res::AboutDialog());
  // The form's own line keeps its words; the version every program gives
  // (from one place in the build) stands beneath it.
  auto* version = controls.As<QLabel>(res::ids::kAboutVersion);
  version->setText(QStringLiteral("Vantorq Console " VANTORQ_VERSION));
  for (QWidget* w : controls.All()) {
    if (auto* icon = qobject_cast<QLabel*>(w); icon != nullptr && icon->text().isEmpty()) {
      res::SetIcon(*icon, res::IconPixmap(res::ids::kIconApp));
      icon->setAccessibleName(QStringLiteral("Vantorq"));
    }
  }
  auto* ok = controls.As<QPushButton>(res::ids::kOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void AddAboutItem(QWidget& window, const std::function<void()>& open) {
  const QString text = res::String(res::ids::kAboutString);
  if (text.isEmpty()) return;
  auto* separator = new QAction(&window);
  separator->setSeparator(true);
  auto* item = new QAction(text, &window);
  item->setObjectName(QStringLiteral("aboutAction"));
  QObject::connect(item, &QAction::triggered, &window, open);
  window.addAction(separator);
  window.addAction(item);
  window.setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace vantorq
