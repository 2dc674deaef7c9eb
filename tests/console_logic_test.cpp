// The console's logic without its window: what a received byte means, how
// the device search steps (with a fake port, timer and clock), the
// read-back from request to summary, and the EDID files.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>

#include "ByteRouter.h"
#include "Commands.h"
#include "DeviceSearch.h"
#include "EdidFile.h"
#include "EdidSummary.h"
#include "ReadBackService.h"
#include "Support.h"

namespace vantorq {
namespace {

namespace fs = std::filesystem;
using Kind = RouterEvent::Kind;

std::vector<RouterEvent::Kind> Feed(CByteRouter& router, std::string_view bytes, unsigned port = 1,
                                    bool error = false) {
  std::vector<Kind> kinds;
  for (char c : bytes) {
    const auto event = router.OnSerialByte(static_cast<std::uint8_t>(c), port, error);
    if (event.kind != Kind::None) kinds.push_back(event.kind);
  }
  return kinds;
}

TEST(ByteRouter, EachByteGoesToExactlyOnePlace) {
  const struct {
    const char* name;
    unsigned port;
    bool error;
    bool readBack;
    std::string_view bytes;
    std::vector<Kind> expected;
    std::string_view lineAfter;
  } cases[] = {
      {"port 0 ignored", 0, false, false, "IN1 EDID 07\r\n", {}, ""},
      {"port 100 ignored", 100, false, false, "IN1 EDID 07\r\n", {}, ""},
      {"port 99 taken", 99, false, false, "IN1 EDID 07\r\n", {Kind::EdidStatus}, ""},
      {"a serial error drops every byte", 1, true, false, "IN1 EDID 07\r\n", std::vector<Kind>(13, Kind::CommError), ""},
      // The error is looked at before the read-back flag.
      {"an error wins over an awaited reply", 1, true, true, "EDID DATA 00\n", std::vector<Kind>(13, Kind::CommError), ""},
      {"status lines wait for their LF", 5, false, false, "OUT1 VIDEO 3", {}, "OUT1 VIDEO 3"},
      {"one tag a line", 5, false, false, "OUT1 VIDEO 3\r\nOUT1 IMAGE ENH 1\r\n", {Kind::ScalerStatus, Kind::EnhancementStatus}, ""},
      {"awaited: status lines do not reach the pages", 5, false, true, "IN1 EDID 07\r\n", {}, ""},
      {"awaited: the reply line", 5, false, true, "OUT1 EDID DATA 00 11\r\n", {Kind::ReadBackLine}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CByteRouter router;
    if (c.readBack) router.AwaitReadBack();
    EXPECT_EQ(Feed(router, c.bytes, c.port, c.error), c.expected);
    EXPECT_EQ(router.m_strLine, c.lineAfter);
  }
}

TEST(ByteRouter, TheReplyEndsTheWaitAndTheNextStatusLineCountsAgain) {
  CByteRouter router;
  router.AwaitReadBack();
  const auto reply = std::string("OUT1 EDID DATA ") + "0a 0b\r\n";
  RouterEvent last;
  for (char c : reply) last = router.OnSerialByte(static_cast<std::uint8_t>(c), 1, false);
  EXPECT_EQ(last.kind, Kind::ReadBackLine);
  EXPECT_EQ(last.line, reply);
  EXPECT_EQ(router.m_bReadBack, 0);
  EXPECT_EQ(Feed(router, "IN1 EDID 03\r\n"), std::vector<Kind>{Kind::EdidStatus});
}

TEST(ByteRouter, ALineWithoutEndIsDiscardedThroughItsLineFeedAndNeverGrows) {
  CByteRouter router;
  const auto capacity = router.m_strLine.capacity();
  std::string junk(3 * kMaxLineLength + 17, '#');
  EXPECT_TRUE(Feed(router, junk).empty());
  EXPECT_LE(router.m_strLine.size(), kMaxLineLength);
  // The LF ends the overlong line; the next line is read as ever.
  EXPECT_TRUE(Feed(router, "IN1 EDID 07\r\n").empty()) << "still the discarded line";
  EXPECT_EQ(Feed(router, "IN1 EDID 07\r\n"), std::vector<Kind>{Kind::EdidStatus});
  EXPECT_EQ(router.m_strLine.capacity(), capacity);
  // A read reply of the longest legitimate length still arrives whole.
  router.AwaitReadBack();
  std::string reply = "IN1 EDID 07 DATA";
  for (int i = 0; i < 256; ++i) reply += " 5a";
  reply += "\r\n";
  EXPECT_EQ(Feed(router, reply), std::vector<Kind>{Kind::ReadBackLine});
}

TEST(ByteRouter, ResetForgetsAnAwaitedReplyAndAPartialLine) {
  CByteRouter router;
  router.AwaitReadBack();
  Feed(router, "OUT1 EDID DATA 00 1");
  router.Reset();
  EXPECT_EQ(router.m_bReadBack, 0);
  EXPECT_EQ(router.m_strLine, "");
  EXPECT_EQ(Feed(router, "IN1 EDID 07\r\n"), std::vector<Kind>{Kind::EdidStatus});
}

// The search's world: ports that are missing, silent, refused or the
// device's, timer 4 on a fake clock, and everything the window is told.
class FakeSearchHost final : public ISearchHost {
 public:
  enum class Port { Missing, Silent, Device, Denied, Busy };

  bool OpenPort(int port) override {
    const Port kind = Kind(port);
    m_lastError = kind == Port::Missing ? ENOENT : kind == Port::Denied ? EACCES : kind == Port::Busy ? EBUSY : 0;
    if (kind != Port::Missing) Log("open COM" + std::to_string(port) + (m_lastError == 0 ? "" : " failed"));
    if (m_lastError == 0) m_open = port;
    return m_lastError == 0;
  }
  OpenAttempt LastOpen() const override { return {"/dev/fake", m_lastError, {}}; }
  void SendProbe() override { Log("probe"); }
  void ClosePort() override {
    Log("close");
    m_open = 0;
  }
  bool PortFailed() const override { return failed; }
  void SetSearchTimer(int periodMs) override {
    Log("timer " + std::to_string(periodMs));
    m_due = now + periodMs;
  }
  void KillSearchTimer() override { m_due = -1; }
  void ShowStatus(std::string_view text) override { Log("status '" + std::string(text) + "'"); }
  void ShowFound() override { Log("found"); }
  void ShowNoDevice(const std::string& detail) override { Log("no device: " + detail); }

  Port Kind(int port) const {
    const auto it = ports.find(port);
    return it == ports.end() ? Port::Missing : it->second;
  }
  // Runs the clock to the next timer 4, or until the device has been
  // probed for `answerAfterMs` (it then answers). False when nothing is due.
  bool Advance(CDeviceSearch& search, int answerAfterMs = 10) {
    if (m_open != 0 && Kind(m_open) == Port::Device && m_due > now + answerAfterMs) {
      now += answerAfterMs;
      search.OnEdidStatus();
      return true;
    }
    if (m_due < 0) return false;
    now = m_due;
    m_due = -1;
    search.OnTimer();
    return true;
  }
  void Log(const std::string& what) { events.push_back(std::to_string(now) + " " + what); }

  std::map<int, Port> ports;
  bool failed = false;
  long now = 0;
  std::vector<std::string> events;

 private:
  int m_open = 0;
  int m_lastError = 0;
  long m_due = -1;
};

using P = FakeSearchHost::Port;

std::vector<std::string> RunSearch(FakeSearchHost& host, CDeviceSearch& search) {
  search.Start();
  while (host.Advance(search)) {
  }
  return host.events;
}

TEST(DeviceSearch, ProbesEachPortInItsWindowAndStopsAtTheDevice) {
  FakeSearchHost host;
  host.ports = {{1, P::Silent}, {2, P::Silent}, {3, P::Silent}, {4, P::Silent}, {5, P::Device}};
  int port = 9;
  CDeviceSearch search(host, port);
  EXPECT_EQ(RunSearch(host, search),
            (std::vector<std::string>{
                "0 open COM1", "0 probe", "0 status 'Please wait.....'", "0 timer 500",
                "500 close", "500 open COM2", "500 probe", "500 timer 400",
                "900 close", "900 open COM3", "900 probe", "900 timer 400",
                "1300 close", "1300 open COM4", "1300 probe", "1300 timer 400",
                "1700 close", "1700 open COM5", "1700 probe", "1700 timer 400",
                "1710 found"}));
  EXPECT_EQ(port, 5);
  EXPECT_EQ(g_nSavedPort, 9);
  EXPECT_EQ(search.m_bSearching, 0);
  EXPECT_FALSE(search.OnEdidStatus()) << "a later status line completes nothing";
}

TEST(DeviceSearch, EndsWithTheMessageAndWhyWhenNoPortAnswers) {
  const struct {
    const char* name;
    std::map<int, P> ports;
    std::string lastEvents;  // the end of the event list
    int portAfter;
  } cases[] = {
      {"one silent port: its 500 ms run out", {{4, P::Silent}},
       "500 close|500 status ' '|500 no device: No answer from COM4.", 7},
      {"silent ports: the last one's 400 ms run out", {{1, P::Silent}, {2, P::Silent}, {3, P::Silent}},
       "1300 close|1300 status ' '|1300 no device: No answer from COM1, COM2, COM3.", 7},
      {"no port at all: at once, and back to COM1", {},
       "0 status ' '|0 no device: No serial port could be opened on COM1 to COM99 \u2014 is the adapter plugged in?", 1},
      {"ports refused say why", {{1, P::Denied}, {33, P::Busy}, {34, P::Denied}},
       "0 open COM34 failed|0 status ' '|0 no device: COM1 (/dev/fake), COM34 (/dev/fake): Permission denied \u2014 add your user to the "
       "dialout group and log in again\nCOM33 (/dev/fake): in use by another program", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSearchHost host;
    host.ports = c.ports;
    int port = 7;
    CDeviceSearch search(host, port);
    ::testing::internal::CaptureStderr();
    const auto events = RunSearch(host, search);
    ::testing::internal::GetCapturedStderr();
    std::string tail;
    for (std::size_t i = events.size() < 3 ? 0 : events.size() - 3; i < events.size(); ++i) {
      tail += (tail.empty() ? "" : "|") + events[i];
    }
    EXPECT_EQ(tail, c.lastEvents);
    EXPECT_EQ(port, c.portAfter);
    EXPECT_EQ(search.m_bSearching, 0);
  }
}

TEST(DeviceSearch, APortFailureOrTheOperatorsChoiceEndsItQuietly) {
  FakeSearchHost host;
  host.ports = {{1, P::Silent}, {2, P::Silent}};
  int port = 1;
  CDeviceSearch search(host, port);
  search.Start();
  host.failed = true;  // the channel raised m_bError
  host.events.clear();
  search.OnTimer();
  EXPECT_EQ(search.m_bSearching, 0);
  EXPECT_TRUE(host.events.empty()) << "no message; the status keeps 'Please wait.....'";
  EXPECT_FALSE(host.Advance(search)) << "timer 4 stopped";

  host.failed = false;
  search.Start();
  search.Cancel();
  EXPECT_EQ(search.m_bSearching, 0);
  EXPECT_EQ(host.events.back(), "0 status ' '");
  EXPECT_FALSE(host.Advance(search));
  EXPECT_FALSE(search.OnEdidStatus());
}

TEST(ReadBackRequest, TheChoiceNamesTheCommandAndThePrefix) {
  const auto output = protocol::OutputEdidReadCommand();
  const auto input7 = protocol::InputEdidReadCommand(7);
  const struct {
    int port, preset;
    ReadBackRequest::Kind kind;
    std::vector<std::uint8_t> command;
    std::string pattern;
  } cases[] = {
      {-1, 7, ReadBackRequest::Kind::NeedPort, {}, ""},
      {0, -1, ReadBackRequest::Kind::NeedPreset, {}, ""},
      {1, -1, ReadBackRequest::Kind::Send, {output.begin(), output.end()}, "Matrix_EDID_out1_%02d.bin"},
      {0, 0, ReadBackRequest::Kind::Send, {output.begin(), output.end()}, "Matrix_EDID_out1_%02d.bin"},
      {0, 7, ReadBackRequest::Kind::Send, {input7.begin(), input7.end()}, "Matrix_EDID_inp1_%02d.bin"},
  };
  for (const auto& c : cases) {
    const auto request = PlanReadBack(c.port, c.preset);
    EXPECT_EQ(request.kind, c.kind) << c.port << "," << c.preset;
    EXPECT_EQ(std::vector<std::uint8_t>(request.Command().begin(), request.Command().end()), c.command);
    EXPECT_EQ(request.pattern, c.pattern);
  }
}

std::string ReplyOf(const EdidBuffer& edid, std::size_t pairs = kEdidSize) {
  std::string line = "OUT1 EDID DATA";
  for (std::size_t i = 0; i < pairs; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02x", edid[i]);
    line += pair;
  }
  return line + "\r\n";
}

class ReadBack : public ::testing::Test {
 protected:
  ReadBack() {
    for (std::size_t i = 0; i < m_edid.size(); ++i) m_edid[i] = static_cast<std::uint8_t>(i * 3);
    m_buffer.fill(0xFF);
  }
  ReadBackOutcome Complete(const std::string& line) { return m_service.Complete(line, kPattern, m_buffer); }
  static std::vector<std::uint8_t> Bytes(const std::string& name) {
    std::string text;
    EXPECT_TRUE(test::ReadFile(name, text)) << name;
    return {text.begin(), text.end()};
  }

  static constexpr std::string_view kPattern = "Matrix_EDID_out1_%02d.bin";
  test::CWorkFolder m_work;
  EdidReport m_report;
  CReadBackService m_service{m_report};
  EdidBuffer m_edid{};
  EdidBuffer m_buffer{};
};

TEST_F(ReadBack, AWholeReplyIsSavedUnderTheFirstFreeNumberAndSummarised) {
  ASSERT_TRUE(test::WriteFile("Matrix_EDID_out1_00.bin", "x"));
  ASSERT_TRUE(test::WriteFile("Matrix_EDID_out1_01.bin", "x"));
  const auto outcome = Complete(ReplyOf(m_edid));
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(outcome.message, "Save to file: Matrix_EDID_out1_02.bin");
  EXPECT_EQ(Bytes("Matrix_EDID_out1_02.bin"), std::vector<std::uint8_t>(m_edid.begin(), m_edid.end()));
  EXPECT_EQ(m_buffer, m_edid);
  EdidReport fresh;
  EXPECT_EQ(outcome.summary, DecodeAndSummarise(fresh, m_edid));
}

TEST_F(ReadBack, ACutReplyIsNeitherSavedNorDecoded) {
  // 95 pairs, then the device's next status line completes the stale line.
  std::string line = ReplyOf(m_edid, 95);
  line.resize(line.size() - 2);
  line += "IN1 EDID 07\r\n";
  const auto outcome = Complete(line);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.message.rfind("The EDID reply was cut short: 9", 0), 0u) << outcome.message;
  EXPECT_NE(outcome.message.find(" of 256 bytes arrived. Nothing was saved"), std::string::npos);
  EXPECT_FALSE(fs::exists("Matrix_EDID_out1_00.bin"));
  EdidBuffer untouched;
  untouched.fill(0xFF);
  EXPECT_EQ(m_buffer, untouched) << "the buffer keeps the last whole EDID";
}

TEST_F(ReadBack, WhenAllHundredNamesExistNothingIsOverwritten) {
  for (int k = 0; k <= kLastEdidFileNumber; ++k) ASSERT_TRUE(test::WriteFile(FormatEdidFileName(kPattern, k), "old"));
  const auto outcome = Complete(ReplyOf(m_edid));
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.message,
            "Matrix_EDID_out1_00.bin to Matrix_EDID_out1_99.bin all exist in this folder. Nothing was saved; move "
            "some of them away and read again.");
  std::string text;
  ASSERT_TRUE(test::ReadFile("Matrix_EDID_out1_99.bin", text));
  EXPECT_EQ(text, "old");
}

TEST_F(ReadBack, AFileThatCannotBeMadeOrWrittenWholeIsAFailureAndLeavesNothing) {
  // A full disk, as a file size limit in a child: the write is cut short.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto fullDisk = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto outcome = Complete(ReplyOf(m_edid));
    return !outcome.saved && outcome.message == "Faild to create file" &&
           outcome.detail == "Matrix_EDID_out1_00.bin: File too large" && !fs::exists("Matrix_EDID_out1_00.bin") &&
           outcome.summary.empty();
  };
  EXPECT_EXIT(std::_Exit(fullDisk() ? 0 : 3), ::testing::ExitedWithCode(0), "");
  // A working folder that is gone: nothing can be created in it at all.
  const fs::path here = fs::current_path();
  fs::create_directory("gone");
  fs::current_path("gone");
  fs::remove(here / "gone");
  const auto outcome = Complete(ReplyOf(m_edid));
  fs::current_path(here);
  EXPECT_EQ(outcome.message, "Faild to create file");
  EXPECT_EQ(outcome.detail, "Matrix_EDID_out1_00.bin: No such file or directory");
  EXPECT_FALSE(outcome.saved);
}

TEST(EdidFileLoad, TheConsolesRuleForEveryKindOfFile) {
  test::CWorkFolder work;
  ASSERT_TRUE(test::WriteFile("small.bin", std::string(128, '\x11')));
  ASSERT_TRUE(test::WriteFile("big.bin", std::string(300, '\x5a')));
  ASSERT_TRUE(test::WriteFile("upper.BIN", "x"));
  ASSERT_TRUE(test::WriteFile("empty.bin", ""));
  fs::create_directory("folder.bin");
  const struct {
    const char* path;
    LoadResult result;
    std::uint8_t first, last;
  } cases[] = {
      {"small.bin", LoadResult::Loaded, 0x11, 0xFF},
      {"big.bin", LoadResult::Loaded, 0x5A, 0x5A},
      {"empty.bin", LoadResult::Loaded, 0xFF, 0xFF},
      {"upper.BIN", LoadResult::NotBin, 0xFF, 0xFF},
      {"missing.bin", LoadResult::ReadFailed, 0xFF, 0xFF},
      {"missing.BIN", LoadResult::ReadFailed, 0xFF, 0xFF},
      {"folder.bin", LoadResult::ReadFailed, 0xFF, 0xFF},
  };
  for (const auto& c : cases) {
    EdidBuffer edid{};
    EXPECT_EQ(LoadEdidFile(c.path, edid), c.result) << c.path;
    EXPECT_EQ(edid[0], c.first) << c.path;
    EXPECT_EQ(edid[255], c.last) << c.path;
  }
}

TEST(EdidFileLoad, AFifoIsNoFileAndNeverBlocks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::CWorkFolder work;
  ASSERT_EQ(::mkfifo("pipe.bin", 0600), 0);
  // In a child with an alarm: a blocking open would hang for ever.
  EXPECT_EXIT(
      {
        ::alarm(5);
        EdidBuffer edid{};
        std::_Exit(LoadEdidFile("pipe.bin", edid) == LoadResult::ReadFailed ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantorq
