#include "OperatorDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace vantorq {

namespace {

class CQtDialogs final : public COperatorDialogs {
 public:
  void Message(QWidget* parent, const QString& text, const QString& detail) override {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vantorq"), text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
  }

  QString OpenFileName(QWidget* parent, const QString& filter, const QString& dir) override {
    const auto dialog = MakeOpenFileDialog(parent, filter, dir);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
  }
};

std::unique_ptr<COperatorDialogs>& Current() {
  static std::unique_ptr<COperatorDialogs> dialogs = std::make_unique<CQtDialogs>();
  return dialogs;
}

}  // namespace

COperatorDialogs& OperatorDialogs() { return *Current(); }

void SetOperatorDialogs(std::unique_ptr<COperatorDialogs> dialogs) {
  Current() = dialogs ? std::move(dialogs) : std::make_unique<CQtDialogs>();
}

void ShowMessage(QWidget* parent, const QString& text, const QString& detail) {
  OperatorDialogs().Message(parent, text, detail);
}

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    // The name already shows the pattern; Qt only needs it in brackets.
    const QString pattern = parts[i + 1] == QStringLiteral("*.*") ? QStringLiteral("*") : parts[i + 1];
    entries << parts[i] + QStringLiteral(" (") + pattern + QStringLiteral(")");
  }
  return entries.join(QStringLiteral(";;"));
}

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const QString& filter, const QString& dir) {
  auto dialog = std::make_unique<QFileDialog>(parent, QString(), dir, QtFileFilter(filter));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  // Each entry's name already shows its pattern; Qt would add it again.
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  return dialog;
}

}  // namespace vantorq
