#pragma once
// Modal dialogs that never block a test.

#include <QString>
#include <QStringList>

#include <functional>

#include "OperatorDialogs.h"

namespace vantorq::test {

// Operator dialogs that record every message and answer file questions
// from a queue, so that no modal dialog ever blocks a test.
class CRecordingDialogs final : public COperatorDialogs {
 public:
  void Message(QWidget* parent, const QString& text, const QString& detail) override;
  QString OpenFileName(QWidget* parent, const QString& filter, const QString& dir) override;

  QStringList messages;
  QStringList details;  // what each box showed beneath its text, in step with messages
  QStringList fileAnswers;  // taken front first; empty means "cancel"
  QStringList filters;
  std::function<void(const QString&)> onMessage;
};

// Installs recording dialogs for the lifetime of the object.
class CDialogRecorder {
 public:
  CDialogRecorder();
  ~CDialogRecorder();
  CRecordingDialogs& operator*() { return *m_dialogs; }
  CRecordingDialogs* operator->() { return m_dialogs; }

 private:
  CRecordingDialogs* m_dialogs;
};

}  // namespace vantorq::test
