#pragma once

#include <QApplication>

namespace vantorq {

class CConsoleApp final : public QApplication {
 public:
  CConsoleApp(int& argc, char** argv);
  // Runs the main window modally; false in every case, so that the
  // process ends when the window closes.
  bool InitInstance();
};

}  // namespace vantorq
