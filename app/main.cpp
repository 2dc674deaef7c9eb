#include <chrono>

#include "ConsoleApp.h"
#include "Trace.h"

int main(int argc, char** argv) {
  // Whoever reads standard error (the traffic log piped into a pager)
  // may read slowly or stop: the window never waits for them.
  vantorq::StartBackgroundErrorLog();
  vantorq::CConsoleApp app(argc, argv);
  app.InitInstance();
  vantorq::FlushErrorLog(std::chrono::milliseconds(500));
  return 0;
}
