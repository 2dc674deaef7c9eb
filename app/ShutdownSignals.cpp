#include "ShutdownSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>

namespace vantorq {

namespace {

// Every signal a terminal sends to end a program (Ctrl+C, Ctrl+\\, a closed
// terminal), and the one a service manager sends.
constexpr std::array<int, 4> kSignals{SIGTERM, SIGINT, SIGHUP, SIGQUIT};
std::atomic<int> g_signalPipe{-1};
std::array<struct sigaction, kSignals.size()> g_previous{};
struct sigaction g_previousPipe {};

extern "C" void OnShutdownSignal(int sig) {
  // Only what is safe in a handler: one byte into the pipe.
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(sig);
  const int fd = g_signalPipe.load();
  if (fd >= 0) [[maybe_unused]] auto n = ::write(fd, &byte, 1);
  errno = saved;
}

}  // namespace

CShutdownSignals::CShutdownSignals(std::function<void(int)> shutdown) : m_shutdown(std::move(shutdown)) {
  if (::pipe2(m_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_signalPipe = m_pipe[1];
  m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    struct sigaction action {};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(kSignals[i], &action, &g_previous[i]);
  }
  // A reader of standard error that goes away (the traffic log piped into
  // head) must not end the console where it stands: the write fails instead.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &g_previousPipe);
}

CShutdownSignals::~CShutdownSignals() {
  if (m_pipe[0] < 0) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
  ::sigaction(SIGPIPE, &g_previousPipe, nullptr);
  g_signalPipe = -1;
  delete m_notifier;
  ::close(m_pipe[0]);
  ::close(m_pipe[1]);
}

void CShutdownSignals::OnReadable() {
  unsigned char byte = 0;
  int last = 0;
  while (::read(m_pipe[0], &byte, 1) == 1) last = byte;
  if (last != 0 && m_shutdown) m_shutdown(last);
}

void CloseAllDialogs() {
  // Innermost first: a message box's loop must end before its owner's can.
  while (QWidget* modal = QApplication::activeModalWidget()) {
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (dialog == nullptr || !dialog->isVisible()) break;
    dialog->done(QDialog::Rejected);
    if (QApplication::activeModalWidget() == modal) break;
  }
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(w); dialog != nullptr && dialog->isVisible()) {
      dialog->done(QDialog::Rejected);
    }
  }
}

}  // namespace vantorq
