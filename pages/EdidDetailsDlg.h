#pragma once
// The whole of the last EDID read back or loaded, in a window of its own:
// the five answers, where it came from (the full path, to be copied) and
// its check, the console's report, then every block. It stays open beside
// the console and follows each new EDID.

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace vantorq {

class CEdidDetailsDlg final : public QDialog {
 public:
  explicit CEdidDetailsDlg(QWidget* parent);

  // Shows `text` (CR LF or LF lines) and sizes the window to it, within
  // the screen.
  void SetText(const QString& text);
  QString Text() const;
  QPlainTextEdit* TextBox() const { return m_text; }
  QPushButton* CloseButton() const { return m_close; }

 private:
  QPlainTextEdit* m_text = nullptr;
  QPushButton* m_close = nullptr;
};

}  // namespace vantorq
