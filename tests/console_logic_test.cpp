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
#include <algorithm>
#include <map>
#include <thread>

#include "ByteRouter.h"
#include "EdidCheck.h"
#include "Commands.h"
#include "DeviceSearch.h"
#include "EdidFile.h"
#include "EdidSummary.h"
#include "ReadBackService.h"
#include "Support.h"
#include "WriteWaits.h"

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

TEST(ByteRouter, EachReplyGoesToWhoeverAskedForItInTheOrderAsked) {
  const std::string reply = "IN1 EDID 15 DATA 00 ff\r\n";
  auto owners = [&](CByteRouter& router, int replies) {
    std::vector<ReplyFor> got;
    for (int i = 0; i < replies; ++i) {
      for (char c : reply) {
        const RouterEvent e = router.OnSerialByte(static_cast<std::uint8_t>(c), 1, false);
        if (e.kind == Kind::ReadBackLine) got.push_back(e.replyFor);
      }
    }
    return got;
  };
  using R = ReplyFor;
  const struct {
    const char* name;
    std::vector<R> asked;
    bool forgetVerification;
    std::vector<R> owners;  // of three replies
  } cases[] = {
      {"the page, then a verification", {R::Page, R::Verification}, false, {R::Page, R::Verification}},
      {"a verification, then the page", {R::Verification, R::Page}, false, {R::Verification, R::Page}},
      {"the page asked twice waits for one reply", {R::Page, R::Page, R::Verification}, false,
       {R::Page, R::Verification}},
      {"a verification whose time ran out", {R::Verification, R::Page}, true, {R::Page}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CByteRouter router;
    for (R who : c.asked) router.AwaitReadBack(who);
    if (c.forgetVerification) router.ForgetReadBack(R::Verification);
    EXPECT_EQ(owners(router, 3), c.owners);
    EXPECT_EQ(router.m_bReadBack, 0) << "status lines count again";
  }
}

TEST(WriteWaits, EveryAwaitedWriteIsToldOnceAndAReplacedOneByTheNextOnesOutcome) {
  std::vector<std::pair<int, WriteOutcome>> told;
  std::vector<std::function<void()>> posted;
  CWriteWaits waits([&](std::function<void()> f) { posted.push_back(std::move(f)); });
  for (WriteTicket t : {1u, 2u, 3u, 4u}) waits.Await(t, [&, t](WriteOutcome o) { told.emplace_back(t, o); });
  waits.OnWritten(1, WriteOutcome::Sent);
  waits.OnWritten(3, WriteOutcome::Stalled);  // 2 never began: a later one was told
  EXPECT_TRUE(told.empty()) << "told only once the notification has been handled";
  for (auto& f : posted) f();
  posted.clear();
  waits.EndAll(WriteOutcome::Stopped);
  for (auto& f : posted) f();
  EXPECT_EQ(told, (std::vector<std::pair<int, WriteOutcome>>{{1, WriteOutcome::Sent},
                                                            {2, WriteOutcome::Replaced},
                                                            {3, WriteOutcome::Stalled},
                                                            {4, WriteOutcome::Stopped}}));
  EXPECT_TRUE(waits.Empty());
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

TEST(ByteRouter, ALineOfExactlyTheBoundIsReadAndOneByteMoreIsNot) {
  const std::string status = "IN1 EDID 07\r\n";
  for (const auto& [length, kinds] : {std::pair{kMaxLineLength, std::vector<Kind>{Kind::EdidStatus}},
                                      std::pair{kMaxLineLength + 1, std::vector<Kind>{}}}) {
    CByteRouter router;
    EXPECT_EQ(Feed(router, std::string(length - status.size(), '#') + status), kinds) << length;
    EXPECT_EQ(Feed(router, status), std::vector<Kind>{Kind::EdidStatus}) << "the line after it, " << length;
  }
}

TEST(ByteRouter, ResetForgetsAnAwaitedReplyAPartialLineAndAnOverlongOne) {
  CByteRouter router;
  router.AwaitReadBack();
  Feed(router, "OUT1 EDID DATA 00 1");
  router.Reset();
  EXPECT_EQ(router.m_bReadBack, 0);
  EXPECT_EQ(router.m_strLine, "");
  EXPECT_EQ(Feed(router, "IN1 EDID 07\r\n"), std::vector<Kind>{Kind::EdidStatus});
  // A port closed in the middle of a line too long to keep: the next
  // port's first line is its own.
  Feed(router, std::string(kMaxLineLength + 10, '#'));
  router.Reset();
  EXPECT_EQ(Feed(router, "IN1 EDID 07\r\n"), std::vector<Kind>{Kind::EdidStatus});
}

// The search's world: ports that are missing, silent, refused or the
// device's, timer 4 on a fake clock, and everything the window is told.
class FakeSearchHost final : public ISearchHost {
 public:
  enum class Port { Missing, Silent, Device, Denied, Busy, Fails };

  bool OpenPort(int port) override {
    highestTried = std::max(highestTried, port);
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
  // A failing port raises the channel's error flag while it is probed.
  bool PortFailed() const override { return m_open != 0 && Kind(m_open) == Port::Fails; }
  std::string FailureLabel() const override { return "WriteFile()"; }
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
  long now = 0;
  int highestTried = 0;
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

TEST(DeviceSearch, ReachesCom99AndNeverBeyond) {
  const struct {
    const char* name;
    std::map<int, P> ports;
    std::string lastEvent;
  } cases[] = {
      {"the first port opened is the last", {{99, P::Device}}, "10 found"},
      {"the last reached by a step", {{1, P::Silent}, {99, P::Device}}, "510 found"},
      {"the last silent", {{98, P::Silent}, {99, P::Silent}}, "900 no device: No answer from COM98, COM99."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSearchHost host;
    host.ports = c.ports;
    int port = 1;
    CDeviceSearch search(host, port);
    EXPECT_EQ(RunSearch(host, search).back(), c.lastEvent);
    EXPECT_EQ(host.highestTried, 99);
  }
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

TEST(DeviceSearch, APortThatFailsWhileProbedIsPassedOverAndNamed) {
  // The channel's error shows either when timer 4 fires or, earlier, when
  // the window's timer 5 finds it (a byte arrived after the failure).
  const struct {
    const char* name;
    std::map<int, P> ports;
    bool timer5;  // the window reports the failure 1 ms into the step
    std::string lastEvent;
  } cases[] = {
      {"found at timer 4", {{1, P::Fails}, {5, P::Device}}, false, "510 found"},
      {"found after timer 5", {{1, P::Fails}, {5, P::Device}}, true, "11 found"},
      {"nothing found: said", {{1, P::Fails}, {2, P::Silent}}, false,
       "900 no device: No answer from COM2.\nCOM1 (/dev/fake): the line failed while it was probed (WriteFile())"},
      {"nothing found after timer 5: said", {{1, P::Fails}}, true,
       "1 no device: COM1 (/dev/fake): the line failed while it was probed (WriteFile())"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSearchHost host;
    host.ports = c.ports;
    int port = 1;
    CDeviceSearch search(host, port);
    search.Start();
    if (c.timer5) {
      host.now = 1;
      search.OnPortFailed();
    }
    while (host.Advance(search)) {
    }
    EXPECT_EQ(host.events.back(), c.lastEvent);
    EXPECT_EQ(search.m_bSearching, 0);
  }
}

TEST(DeviceSearch, TheOperatorsChoiceEndsItQuietly) {
  FakeSearchHost host;
  host.ports = {{1, P::Silent}, {2, P::Silent}};
  int port = 1;
  CDeviceSearch search(host, port);
  search.Start();
  search.Cancel();
  EXPECT_EQ(search.m_bSearching, 0);
  EXPECT_EQ(host.events.back(), "0 status ' '");
  EXPECT_FALSE(host.Advance(search));
  EXPECT_FALSE(search.OnEdidStatus());
  search.OnPortFailed();
  EXPECT_EQ(host.events.back(), "0 status ' '") << "a failure after the end changes nothing";
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

std::string ReplyOf(const EdidBuffer& edid, std::size_t pairs = kEdidSize) { return test::EdidReply(edid, pairs); }

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
  // A link that leads nowhere takes its name too: nothing is made through it.
  fs::create_directory("elsewhere");
  fs::create_symlink("elsewhere/planted.bin", "Matrix_EDID_out1_01.bin");
  const auto outcome = Complete(ReplyOf(m_edid));
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(outcome.message, "Save to file: Matrix_EDID_out1_02.bin");
  EXPECT_FALSE(fs::exists("elsewhere/planted.bin"));
  EXPECT_EQ(Bytes("Matrix_EDID_out1_02.bin"), std::vector<std::uint8_t>(m_edid.begin(), m_edid.end()));
  EXPECT_EQ(m_buffer, m_edid);
  EdidReport fresh;
  EXPECT_EQ(outcome.summary, DecodeAndSummarise(fresh, m_edid));
  // What the device holds is saved even when it fails its own checks, and
  // the verdict is said beneath the message; a sound EDID needs no word.
  EXPECT_EQ(outcome.detail.rfind("EDID check: header 00 03 06 09 0c 0f 12 15, should be", 0), 0u) << outcome.detail;
  std::copy(kEdidHeader.begin(), kEdidHeader.end(), m_edid.begin());
  m_edid[126] = 1;
  m_edid[128] = 2;
  m_edid[127] = ExpectedChecksum(m_edid, 0);
  m_edid[255] = ExpectedChecksum(m_edid, 1);
  const auto sound = Complete(ReplyOf(m_edid));
  EXPECT_EQ(sound.message, "Save to file: Matrix_EDID_out1_03.bin");
  EXPECT_EQ(sound.detail, "");
}

TEST_F(ReadBack, AReplyNotWholeOnTheLineIsNeitherSavedNorDecoded) {
  const std::string whole = ReplyOf(m_edid);
  const std::size_t data = whole.find("DATA ") + 5;
  auto insert = [&](std::size_t at, std::string_view what) { return whole.substr(0, at) + std::string(what) + whole.substr(at); };
  std::string cut = ReplyOf(m_edid, 95);
  cut.resize(cut.size() - 2);
  const struct {
    const char* name;
    std::string line;
    std::string message;
  } cases[] = {
      {"one pair short", ReplyOf(m_edid, 255), "cut short: 255 of 256 bytes arrived."},
      {"255 pairs and a stray digit", insert(whole.size() - 5, "").substr(0, whole.size() - 4) + "\r\n",
       "cut short: 255 of 256 bytes arrived."},
      {"cut, then a status line", cut + "IN1 EDID 07\r\n", "cut short: 95 of 256 bytes arrived."},
      {"a noise byte inside byte 131", insert(data + 130 * 3 + 1, "?"), "garbled on the line: byte 131 of 256 was split by a stray character."},
      {"a digit too many", insert(whole.size() - 2, " 7"), "garbled on the line: 513 hexadecimal digits arrived where 512 belong."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto outcome = Complete(c.line);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.message, "The EDID reply was " + c.message + " Nothing was saved; read it again.");
    EXPECT_FALSE(fs::exists("Matrix_EDID_out1_00.bin"));
    EdidBuffer untouched;
    untouched.fill(0xFF);
    EXPECT_EQ(m_buffer, untouched) << "the buffer keeps the last whole EDID";
  }
  // The same reply, whole, is saved: each case above differs from it by one fault.
  EXPECT_TRUE(Complete(whole).saved);
}

TEST_F(ReadBack, TwoConsolesSavingIntoOneFolderNeverShareAName) {
  // Each saves its own EDIDs at the same moment; every one must be there.
  constexpr int kEach = 25;
  std::array<EdidBuffer, 2> edids{};
  edids[0].fill(0xA1);
  edids[1].fill(0xB2);
  std::array<std::thread, 2> consoles;
  for (std::size_t i = 0; i < consoles.size(); ++i) {
    consoles[i] = std::thread([&, i] {
      for (int k = 0; k < kEach; ++k) SaveEdidUnderFreeName(kPattern, edids[i]);
    });
  }
  for (auto& t : consoles) t.join();
  std::array<int, 2> found{};
  for (int k = 0; k < 2 * kEach; ++k) {
    const auto bytes = Bytes(FormatEdidFileName(kPattern, k));
    ASSERT_EQ(bytes.size(), kEdidSize) << k;
    ++found[bytes[0] == 0xA1 ? 0 : 1];
  }
  EXPECT_EQ(found, (std::array<int, 2>{kEach, kEach}));
}

TEST_F(ReadBack, TheLastNumberIsUsedAndWhenAllHundredExistNothingIsOverwritten) {
  for (int k = 0; k < kLastEdidFileNumber; ++k) ASSERT_TRUE(test::WriteFile(FormatEdidFileName(kPattern, k), "old"));
  EXPECT_EQ(Complete(ReplyOf(m_edid)).message, "Save to file: Matrix_EDID_out1_99.bin");
  ASSERT_TRUE(test::WriteFile("Matrix_EDID_out1_99.bin", "old"));
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
  const std::string header(reinterpret_cast<const char*>(kEdidHeader.data()), kEdidHeader.size());
  ASSERT_TRUE(test::WriteFile("small.bin", header + std::string(120, '\x11')));
  ASSERT_TRUE(test::WriteFile("big.bin", header + std::string(292, '\x5a')));
  ASSERT_TRUE(test::WriteFile("header.bin", header));
  ASSERT_TRUE(test::WriteFile("seven.bin", header.substr(0, 7)));
  ASSERT_TRUE(test::WriteFile("text.bin", "hello, world"));
  ASSERT_TRUE(test::WriteFile("upper.BIN", "x"));
  ASSERT_TRUE(test::WriteFile("empty.bin", ""));
  fs::create_directory("folder.bin");
  fs::create_symlink("small.bin", "link.bin");
  fs::create_symlink("/dev/null", "device.bin");
  const struct {
    const char* path;
    LoadResult result;
    std::uint8_t eighth, last;
  } cases[] = {
      {"small.bin", LoadResult::Loaded, 0x11, 0xFF},  // 128 bytes: completed with 0xFF
      {"big.bin", LoadResult::Loaded, 0x5A, 0x5A},
      {"header.bin", LoadResult::Loaded, 0xFF, 0xFF},  // the header alone is the shortest EDID
      {"link.bin", LoadResult::Loaded, 0x11, 0xFF},
      {"seven.bin", LoadResult::NotEdid, 0xFF, 0xFF},
      {"text.bin", LoadResult::NotEdid, 0xFF, 0xFF},
      {"empty.bin", LoadResult::NotEdid, 0xFF, 0xFF},
      {"upper.BIN", LoadResult::NotBin, 0xFF, 0xFF},
      {"missing.bin", LoadResult::ReadFailed, 0xFF, 0xFF},
      {"missing.BIN", LoadResult::ReadFailed, 0xFF, 0xFF},
      {"folder.bin", LoadResult::ReadFailed, 0xFF, 0xFF},
      {"device.bin", LoadResult::ReadFailed, 0xFF, 0xFF},
  };
  for (const auto& c : cases) {
    EdidBuffer edid{};
    EXPECT_EQ(LoadEdidFile(c.path, edid), c.result) << c.path;
    EXPECT_EQ(edid[8], c.eighth) << c.path;
    EXPECT_EQ(edid[255], c.last) << c.path;
  }
  const std::uint8_t text[] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(DescribeNotEdid("text.bin", text),
            "text.bin begins with 68 65 6c 6c 6f; an EDID begins with 00 ff ff ff ff ff ff 00.");
  EXPECT_EQ(DescribeNotEdid("empty.bin", {}), "empty.bin is empty.");
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
