#pragma once
// Every modal question or message the console puts to the operator goes
// through here, so that tests can answer in advance and read what was said.

#include <QString>

#include <memory>

class QFileDialog;
class QWidget;

namespace vantorq {

class COperatorDialogs {
 public:
  virtual ~COperatorDialogs() = default;
  // A modal box with caption "Vantorq" and one OK button. `detail`, when
  // not empty, is shown beneath the fixed text: the reason and the remedy.
  virtual void Message(QWidget* parent, const QString& text, const QString& detail) = 0;
  // An open-file dialog; empty when the operator cancelled. `filter` is in
  // the "name|pattern|name|pattern||" form.
  virtual QString OpenFileName(QWidget* parent, const QString& filter, const QString& dir) = 0;
};

COperatorDialogs& OperatorDialogs();
// Replaces the dialogs (tests); null puts the real ones back.
void SetOperatorDialogs(std::unique_ptr<COperatorDialogs> dialogs);

// Shorthand for OperatorDialogs().Message.
void ShowMessage(QWidget* parent, const QString& text, const QString& detail = QString());

// "a|b|c|d||" to Qt's "a (b);;c (d)" form, keeping each entry's name. A
// pattern "*.*" means every file, as it does where the form comes from,
// and becomes "*" (which also lists files without a dot).
QString QtFileFilter(const QString& filter);

// The open-file dialog the console shows: each entry of `filter` by its
// name alone, starting in `dir`.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const QString& filter, const QString& dir);

}  // namespace vantorq
