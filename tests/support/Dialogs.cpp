#include "Dialogs.h"

namespace vantorq::test {

void CRecordingDialogs::Message(QWidget*, const QString& text, const QString& detail) {
  messages << text;
  details << detail;
  if (onMessage) onMessage(text);
}

QString CRecordingDialogs::OpenFileName(QWidget*, const QString& filter, const QString&) {
  filters << filter;
  return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

CDialogRecorder::CDialogRecorder() {
  auto dialogs = std::make_unique<CRecordingDialogs>();
  m_dialogs = dialogs.get();
  SetOperatorDialogs(std::move(dialogs));
}

CDialogRecorder::~CDialogRecorder() { SetOperatorDialogs(nullptr); }

}  // namespace vantorq::test
