#pragma once

#include <QApplication>

#include <functional>

namespace vantorq {

class CConsoleDlg;

class CConsoleApp final : public QApplication {
 public:
  CConsoleApp(int& argc, char** argv);
  // Runs the main window modally; false in every case, so that the
  // process ends when the window closes.
  bool InitInstance();
};

// The application's names. No display name: the window system would append
// it to the caption ("Vantorq V0.1 — Vantorq").
void ConfigureApplication(QApplication& app);

// The main window's whole life: made, run modally (SIGTERM, SIGINT and
// SIGHUP close it as the close box does), destroyed, which releases the
// port. `shown` runs once the window's loop is running (tests).
void RunConsoleWindow(const std::function<void(CConsoleDlg&)>& shown = {});

}  // namespace vantorq
