#pragma once
// Standard input, output and error as every program of the project finds
// them at start. A program started with one of them closed would hand its
// number to the next thing it opens (a serial port, a lock file, the
// display's socket), and a line meant for the operator would go there.

#include <array>

namespace vantorq {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, before
// anything else is opened; says which were closed.
std::array<bool, 3> GuardStandardStreams();

}  // namespace vantorq
