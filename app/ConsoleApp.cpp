#include "ConsoleApp.h"

#include <QTimer>

#include <memory>

#include "ConsoleDlg.h"
#include "OperatorDialogs.h"
#include "ShutdownSignals.h"

namespace vantorq {

namespace {

// POSIX sockets need no start-up; the check stays for platforms whose
// socket layer does.
bool InitSocketLayer() { return true; }

}  // namespace

void ConfigureApplication(QApplication& app) {
  app.setApplicationName(QStringLiteral("vantorq"));
  app.setDesktopFileName(QStringLiteral("invalid.vantorq.Console"));
}

CConsoleApp::CConsoleApp(int& argc, char** argv) : QApplication(argc, argv) { ConfigureApplication(*this); }

bool CConsoleApp::InitInstance() {
  if (!InitSocketLayer()) {
    ShowMessage(nullptr, QStringLiteral("Windows sockets initialization failed."));
    return false;
  }
  RunConsoleWindow();
  return false;
}

void RunConsoleWindow(const std::function<void(CConsoleDlg&)>& shown) {
  auto dialog = std::make_unique<CConsoleDlg>();
  const CShutdownSignals shutdownSignals([](int) { CloseAllDialogs(); });
  if (shown) QTimer::singleShot(0, dialog.get(), [&] { shown(*dialog); });
  dialog->exec();
  // Destroying the window stops the serial monitor and releases the port.
  dialog.reset();
}

}  // namespace vantorq
