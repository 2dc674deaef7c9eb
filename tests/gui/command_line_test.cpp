// The programs as a shell runs them: what they answer before they start.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

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

TEST(EveryProgram, GivesTheOneVersionTheBuildSets) {
  const struct {
    std::string program;
    std::string name;
  } programs[] = {{VANTORQ_CONSOLE, "vantorq"}, {VANTORQ_CTL, "vantorq-ctl"}, {VANTORQ_EDID_TOOL, "vantorq-edid"},
                  {VANTORQ_SIM, "vantorq-sim"}};
  for (const auto& p : programs) {
    const test::Ran ran = test::RunShell("env -u DISPLAY " + p.program + " --version");
    EXPECT_EQ(ran.status, 0) << p.name;
    EXPECT_EQ(ran.out, p.name + " " VANTORQ_VERSION "\n");
  }
}

TEST(EveryProgram, StartedWithItsStandardStreamsClosedItGivesThemToNullAndNothingElse) {
  // Closed, descriptors 0 to 2 would go to the next thing opened (the
  // display's socket, a port, a lock file), and a line meant for the
  // operator would go there. Each program is kept waiting (a FIFO nobody
  // writes, a window, a device) while its descriptors are looked at.
  test::CWorkFolder work;
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  const std::vector<std::vector<std::string>> programs{
      {VANTORQ_CONSOLE},
      {VANTORQ_CTL, "--port", "COM5", "write-user-edid", "fifo"},
      {VANTORQ_EDID_TOOL, "fifo"},
      {VANTORQ_SIM, "--port-dir", work.Path() + "/ports"},
  };
  for (const auto& argv : programs) {
    SCOPED_TRACE(argv[0]);
    test::CChild child(argv, {-1, -1, -1});
    ASSERT_TRUE(child.Started());
    const std::string fds = "/proc/" + std::to_string(child.Pid()) + "/fd/";
    std::array<std::string, 3> targets;
    const bool open = test::WaitUntil(
        [&] {
          for (std::size_t fd = 0; fd < 3; ++fd) {
            std::error_code ec;
            targets[fd] = std::filesystem::read_symlink(fds + std::to_string(fd), ec).string();
            if (ec) return false;
          }
          return true;
        },
        std::chrono::milliseconds(5000));
    EXPECT_TRUE(open) << "descriptors 0 to 2 are open";
    EXPECT_EQ(targets, (std::array<std::string, 3>{"/dev/null", "/dev/null", "/dev/null"}));
    child.Signal(SIGTERM);
    EXPECT_TRUE(child.Wait(std::chrono::milliseconds(5000)).has_value());
  }
}

}  // namespace
}  // namespace vantorq
