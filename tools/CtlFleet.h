#pragma once
// Many units in one run: each unit is forked from the run, while it is the
// only thread, and runs as a run of its own would (its session, event
// loop, signals and lock); their lines come back prefixed by their port,
// and the exit status is the worst.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vantorq::tool {

// Units of one run, at most.
inline constexpr std::size_t kMostUnits = 128;

struct FleetChild {
  std::string port;
  pid_t pid = -1;
  int out = -1;  // its standard output and error, read here
  int err = -1;
  std::string startError;  // why it could not be started
};

struct FleetRun {
  std::vector<FleetChild> children;
};

// Forks a child for each unit; the child runs `unit(i)`, which never
// returns. Call it before any thread is started.
FleetRun StartFleet(const std::vector<std::string>& ports, const std::function<void(std::size_t)>& unit);

struct FleetRequest {
  std::string command;     // the command's words, for an object a child did not write
  bool json = false;       // children write objects; an array of them is printed
  bool answering = false;  // find --all: the ports that answered, bare
  int signalFd = -1;       // readable with each signal's number: passed on to every child
  int stopFd = -1;         // readable once a signal came
};

// Reads what the children say and prints it; the exit status of the whole.
int FinishFleet(FleetRun run, const FleetRequest& request);

// A port's name as a file name's part: "COM34", "dev_ttyUSB0".
std::string PortForFileName(const std::string& port);

// `pattern` with every "%p" replaced by the port's file-name form.
std::string PerUnit(const std::string& pattern, const std::string& port);

}  // namespace vantorq::tool
