// The programs as a shell runs them: what they answer before they start.

#include <gtest/gtest.h>
#include <unistd.h>

#include "Support.h"

namespace vantorq {
namespace {

TEST(ConsoleCommandLine, HelpAndVersionNeedNoDisplayAndWriteNothing) {
  test::CWorkFolder fresh;
  const std::string console = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + VANTORQ_CONSOLE;
  const struct {
    const char* args;
    int status;
    const char* outStarts;
    const char* errStarts;
  } cases[] = {
      {"--help", 0, "usage: vantorq [--help] [--version]", ""},
      {"-h", 0, "usage: vantorq", ""},
      {"--version", 0, "vantorq 0.1.0\n", ""},
      {"--bogus", 2, "", "vantorq: unknown option '--bogus'\nusage: vantorq"},
      {"-x", 2, "", "vantorq: unknown option '-x'"},
      {"extra", 2, "", "vantorq: unexpected argument 'extra'"},
      {"-style", 2, "", "vantorq: option '-style' needs a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::Ran ran = test::RunShell(console + " " + c.args);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_EQ(ran.out.rfind(c.outStarts, 0), 0u) << ran.out;
    EXPECT_EQ(ran.err.rfind(c.errStarts, 0), 0u) << ran.err;
  }
  EXPECT_NE(::access("KVAddrMg.ini", F_OK), 0) << "the address file is the window's";
}

}  // namespace
}  // namespace vantorq
