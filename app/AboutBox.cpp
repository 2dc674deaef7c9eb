#include "AboutBox.h"

#include <QLabel>
#include <QPushButton>

#include "DialogBuilder.h"
#include "Resources.h"

namespace vantorq {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  const auto controls = res::BuildDialog(*this, res::AboutDialog());
  for (QWidget* w : controls.All()) {
    if (auto* icon = qobject_cast<QLabel*>(w); icon != nullptr && icon->text().isEmpty()) {
      res::SetIcon(*icon, res::IconPixmap(res::ids::kIconApp));
    }
  }
  auto* ok = controls.As<QPushButton>(res::ids::kOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vantorq
