#include <chrono>

#include "CommandLine.h"
#include "ConsoleApp.h"
#include "StandardStreams.h"
#include "Trace.h"

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard error would hand its
  // number to the display's socket.
  vantorq::GuardStandardStreams();
  // Answered before anything exists: no display, no file, no thread.
  const vantorq::CommandLine line = vantorq::ParseCommandLine(argc, argv, VANTORQ_VERSION);
  if (line.action == vantorq::CommandLine::Action::Exit) return line.status;
  // Whoever reads standard error (the traffic log piped into a pager)
  // may read slowly or stop: the window never waits for them.
  vantorq::StartBackgroundErrorLog();
  vantorq::CConsoleApp app(argc, argv);
  app.InitInstance();
  vantorq::FlushErrorLog(std::chrono::milliseconds(500));
  return 0;
}
