#pragma once
// SIGTERM, SIGINT, SIGHUP and SIGQUIT end the console the way closing its
// window does, so that the port, its exclusive flag and its lock file are
// released; SIGPIPE is ignored. Without this a signal kills the process
// where it stands.

#include <QObject>

#include <array>
#include <functional>

class QSocketNotifier;

namespace vantorq {

class CShutdownSignals final : public QObject {
 public:
  // Installs the handlers; `shutdown` runs on this thread when a signal
  // has arrived, with its number.
  explicit CShutdownSignals(std::function<void(int)> shutdown);
  // Puts the previous handlers back.
  ~CShutdownSignals() override;
  CShutdownSignals(const CShutdownSignals&) = delete;
  CShutdownSignals& operator=(const CShutdownSignals&) = delete;

 private:
  void OnReadable();

  std::function<void(int)> m_shutdown;
  std::array<int, 2> m_pipe{-1, -1};
  QSocketNotifier* m_notifier = nullptr;
};

// Ends every dialog the console has open, the innermost first, so that
// each modal loop returns and the main window's closes last.
void CloseAllDialogs();

}  // namespace vantorq
