#pragma once
// The console's command line, answered before anything is created: no
// display is needed for --help or --version, and no file is written.

#include <string>

namespace vantorq {

struct CommandLine {
  enum class Action { Run, Exit };
  Action action = Action::Run;
  int status = 0;  // the exit status, when the action is Exit
};

// Reads argv: --help and --version print and exit 0; an option that is
// neither ours nor one of Qt's own (-platform, -style, ...) is an error,
// said on standard error with the usage, exit 2. Qt's options are left in
// argv for QApplication.
CommandLine ParseCommandLine(int argc, char** argv, const std::string& version);

}  // namespace vantorq
