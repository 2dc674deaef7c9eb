// What the console writes on standard error: never raw control characters
// taken from outside, and never at the cost of the window's time.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "Trace.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

TEST(EscapeControls, TerminalControlsBecomeVisibleAndUtf8StaysText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"minicom", "minicom"},
      {"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
      {"a\r\nb\tc\x7f", "a\\x0d\\x0ab\\x09c\\x7f"},
      {"Gr\xc3\xbc\xc3\x9f \xe2\x80\x94 \xf0\x9f\x93\xba", "Gr\xc3\xbc\xc3\x9f \xe2\x80\x94 \xf0\x9f\x93\xba"},
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},  // C1 CSI written in UTF-8
      {"\x9b" "2J", "\\x9b2J"},           // C1 CSI as a lone byte
      {"\xc2\xa0", "\xc2\xa0"},           // the first code point past C1
      {"cut \xe2\x80", "cut \\xe2\\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.out;
}

TEST(ErrorLog, AReaderThatStopsCostsLinesNotTimeAndOneThatGoesEndsTheLog) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::alarm(10);  // a writer that waited for the reader would hang here
        std::signal(SIGPIPE, SIG_IGN);
        int pipe[2];
        if (::pipe(pipe) != 0) std::_Exit(4);
        StartBackgroundErrorLog(pipe[1], 64);
        // 1 MB against a pipe of 64 KB that nobody reads.
        const std::string line(200, 'x');
        for (int i = 0; i < 5000; ++i) WriteErrorLine(line);
        // The reader reads again: what was lost is counted, once.
        ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
        std::string seen;
        const auto until = std::chrono::steady_clock::now() + 5s;
        const std::string note = " log lines dropped: standard error was not read\n";
        while (seen.find(note) == std::string::npos && std::chrono::steady_clock::now() < until) {
          char buf[65536];
          const auto n = ::read(pipe[0], buf, sizeof buf);
          if (n > 0) seen.append(buf, static_cast<std::size_t>(n));
          else std::this_thread::sleep_for(1ms);
        }
        const bool counted = seen.find(note) != std::string::npos;
        // The reader goes away: the log ends, the process goes on.
        ::close(pipe[0]);
        WriteErrorLine("after the reader went");
        bool ended = false;
        for (int i = 0; i < 500 && !ended; ++i) {
          std::this_thread::sleep_for(10ms);
          ended = ErrorLogEnded();
        }
        std::_Exit(counted && ended ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantorq
