#pragma once
// Helpers shared by the tests.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "OperatorDialogs.h"

namespace vantorq::test {

// Handles events until `done` holds or `limit` has passed; says which.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Handles events for `span`.
void Pump(std::chrono::milliseconds span);

// Descriptors and threads this process has now.
int OpenDescriptorCount();
int ThreadCount();

// CPU time this process has used, user and system.
std::chrono::microseconds CpuTime();

// Operator dialogs that record every message and answer file questions
// from a queue, so that no modal dialog ever blocks a test.
class CRecordingDialogs final : public COperatorDialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  QString OpenFileName(QWidget* parent, const QString& filter, const QString& dir) override;

  QStringList messages;
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

// Sets an environment variable for the lifetime of the object.
class CScopedEnv {
 public:
  CScopedEnv(const char* name, const std::string& value);
  ~CScopedEnv();

 private:
  std::string m_name;
  bool m_had;
  std::string m_old;
};

}  // namespace vantorq::test
