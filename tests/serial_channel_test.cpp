// The serial channel against real pseudo-terminals, and against a port
// double where a failure has to be made to happen.

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "PseudoTerminal.h"
#include "SerialChannel.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

struct Owner final : CSerialOwner {
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    if (message == WM_SERIAL_BYTE) {
      bytes.push_back(static_cast<std::uint8_t>(wParam));
      ports.push_back(lParam);
    } else {
      others.push_back(message);
    }
    if (onByte) onByte();
  }
  std::vector<std::uint8_t> bytes;
  std::vector<std::intptr_t> ports;
  std::vector<unsigned> others;
  std::function<void()> onByte;
};

// A line on COMn: a pseudo-terminal behind a link in a private port folder.
class Line : public ::testing::Test {
 protected:
  void SetUp() override { m_env = std::make_unique<test::CScopedEnv>("VANTORQ_PORT_DIR", m_folder.Path()); }

  sim::CPseudoTerminal& Attach(unsigned com) {
    auto pty = sim::CPseudoTerminal::Create();
    EXPECT_TRUE(pty);
    EXPECT_TRUE(m_folder.Link(com, pty->FarPath()));
    m_ptys.push_back(std::move(pty));
    return *m_ptys.back();
  }

  static bool Start(CSerialChannel& channel) {
    return channel.StartMonitor() == 1 && test::WaitUntil([&] { return channel.MonitorRunning(); });
  }

  int OpenConsoleWay(CSerialChannel& channel, Owner& owner, unsigned com) {
    return channel.Open(&owner, com, 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 1024);
  }

  sim::CPortFolder m_folder;
  std::unique_ptr<test::CScopedEnv> m_env;
  std::vector<std::unique_ptr<sim::CPseudoTerminal>> m_ptys;
};

TEST_F(Line, EveryByteValueArrivesInOrderWithItsPortNumber) {
  auto& pty = Attach(7);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 7), 1);
  ASSERT_TRUE(Start(channel));
  std::vector<std::uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);
  // Twice, so that values repeat and a lost or doubled byte would show.
  ASSERT_TRUE(pty.Send(all));
  ASSERT_TRUE(pty.Send(all));
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() >= 512; }));
  test::Pump(30ms);
  ASSERT_EQ(owner.bytes.size(), 512u);
  for (std::size_t i = 0; i < 512; ++i) EXPECT_EQ(owner.bytes[i], i % 256) << i;
  for (auto port : owner.ports) EXPECT_EQ(port, 7);
  // Each wake-up ends with one event-character notice, q or not.
  ASSERT_FALSE(owner.others.empty());
  for (auto m : owner.others) EXPECT_EQ(m, WM_SERIAL_RXFLAG);
  EXPECT_EQ(channel.m_bError, 0);
}

TEST_F(Line, TheLineIsSetUpRaw57600EightNoneOne) {
  auto& pty = Attach(2);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 2), 1);
  EXPECT_EQ(channel.m_bError, 0) << channel.LastFailure();
  termios t{};
  ASSERT_TRUE(pty.FarAttributes(t));
  EXPECT_EQ(cfgetospeed(&t), B57600);
  EXPECT_EQ(cfgetispeed(&t), B57600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(Line, AWriteArrivesWithExactlyTheBytesQueued) {
  auto& pty = Attach(3);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 3), 1);
  ASSERT_TRUE(Start(channel));
  std::vector<std::uint8_t> command(790);
  for (std::size_t i = 0; i < command.size(); ++i) command[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(channel.QueueWrite(command));
  EXPECT_EQ(pty.Receive(2000ms), command);
  const std::uint8_t probe[] = {'\r', '\n', 'G', 'E', 'T', ' ', 'S', 'T', 'A', '\r', '\n'};
  ASSERT_TRUE(channel.QueueWrite(probe));
  EXPECT_EQ(pty.Receive(2000ms), std::vector<std::uint8_t>(std::begin(probe), std::end(probe)));
}

TEST_F(Line, AWriteLongerThanTheBufferOrWithoutOneIsRefused) {
  Attach(3);
  CSerialChannel channel;
  Owner owner;
  const std::vector<std::uint8_t> small(10, 'x');
  EXPECT_FALSE(channel.QueueWrite(small));  // before the first Open
  ASSERT_EQ(OpenConsoleWay(channel, owner, 3), 1);
  EXPECT_FALSE(channel.QueueWrite(std::vector<std::uint8_t>(1025, 'x')));
  EXPECT_TRUE(channel.QueueWrite(std::vector<std::uint8_t>(1024, 'x')));
  channel.Close();
  EXPECT_FALSE(channel.QueueWrite(small));
}

TEST_F(Line, AMissingOrHeldPortCannotBeOpened) {
  Attach(4);
  CSerialChannel holder;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(holder, owner, 4), 1);

  for (unsigned com : {4u, 12u}) {  // held by another open; not there at all
    for (int flag : {0, 1}) {
      CSerialChannel channel;
      channel.m_bError = flag;
      EXPECT_EQ(OpenConsoleWay(channel, owner, com), 0) << com;
      EXPECT_EQ(channel.m_bError, flag) << "open failures are not reported";
      EXPECT_FALSE(channel.HasPort());
      EXPECT_TRUE(channel.HasWriteBuffer()) << "the new buffer exists nevertheless";
      EXPECT_NE(channel.LastOpenError(), 0);
      EXPECT_EQ(channel.LastOpenPath(), m_folder.LinkPath(com));
    }
  }
  holder.Close();
  CSerialChannel again;
  EXPECT_EQ(OpenConsoleWay(again, owner, 4), 1) << "released by Close";
}

TEST_F(Line, AHangUpIsReportedOnceAndNeverSpins) {
  auto& pty = Attach(8);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 8), 1);
  ASSERT_TRUE(Start(channel));
  pty.Send("ab");
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == 2; }));
  pty.HangUp();
  ASSERT_TRUE(test::WaitUntil([&] { return channel.m_bError != 0; }));
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == 3; }))
      << "the failed read is still notified, so that the owner notices";
  EXPECT_STREQ(channel.LastFailure(), "ReadFile()");
  const auto cpuBefore = test::CpuTime();
  test::Pump(300ms);
  const auto used = test::CpuTime() - cpuBefore;
  EXPECT_EQ(owner.bytes.size(), 3u);
  EXPECT_LT(used, 150ms) << "the monitor must not poll a dead line";
  channel.Close();
  EXPECT_EQ(channel.MonitorExitCode(), kMonitorExitCode);
}

TEST_F(Line, CloseIsSafeInEveryState) {
  auto& pty = Attach(6);
  CSerialChannel channel;
  Owner owner;
  channel.Close();  // never opened
  ASSERT_EQ(OpenConsoleWay(channel, owner, 6), 1);
  channel.Close();  // opened, no monitor
  EXPECT_FALSE(channel.HasPort());
  EXPECT_FALSE(channel.HasWriteBuffer());
  channel.Close();  // again: nothing left to do
  for (int i = 0; i < 50; ++i) {
    // Closed at once after the start, before the monitor may have run.
    ASSERT_EQ(OpenConsoleWay(channel, owner, 6), 1);
    ASSERT_EQ(channel.StartMonitor(), 1);
    channel.Close();
    EXPECT_FALSE(channel.HasPort());
  }
  // The line still works afterwards.
  ASSERT_EQ(OpenConsoleWay(channel, owner, 6), 1);
  ASSERT_TRUE(Start(channel));
  pty.Send("z");
  EXPECT_TRUE(test::WaitUntil([&] { return !owner.bytes.empty() && owner.bytes.back() == 'z'; }));
}

TEST_F(Line, OpenWhileAMonitorRunsStopsItFirst) {
  auto& first = Attach(1);
  auto& second = Attach(2);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 1), 1);
  ASSERT_TRUE(Start(channel));
  first.Send("1");
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == 1; }));
  ASSERT_EQ(OpenConsoleWay(channel, owner, 2), 1);
  EXPECT_EQ(channel.MonitorExitCode(), kMonitorExitCode);
  ASSERT_TRUE(Start(channel));
  first.Send("x");
  second.Send("2");
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == 2; }));
  test::Pump(50ms);
  EXPECT_EQ(owner.bytes, (std::vector<std::uint8_t>{'1', '2'}));
  EXPECT_EQ(owner.ports.back(), 2);
}

TEST_F(Line, ManyOpenCloseCyclesLeaveNothingBehind) {
  auto& pty = Attach(9);
  Owner owner;
  CSerialChannel channel;
  // Warm up once, so that lazily made things (the event pair) are counted.
  ASSERT_EQ(OpenConsoleWay(channel, owner, 9), 1);
  channel.StartMonitor();
  channel.Close();
  const int fds = test::OpenDescriptorCount();
  const int threads = test::ThreadCount();
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(OpenConsoleWay(channel, owner, 9), 1);
    ASSERT_EQ(channel.StartMonitor(), 1);
    if (i % 50 == 0) pty.Send("k");
    channel.Close();
  }
  EXPECT_EQ(test::OpenDescriptorCount(), fds);
  EXPECT_EQ(test::ThreadCount(), threads);
}

TEST_F(Line, DestroyingTheChannelFreesAMonitorStuckInADelivery) {
  auto& pty = Attach(5);
  const int threads = test::ThreadCount();
  Owner owner;
  {
    CSerialChannel channel;
    ASSERT_EQ(OpenConsoleWay(channel, owner, 5), 1);
    ASSERT_TRUE(Start(channel));
    // Nobody handles events here: the monitor blocks in its first delivery,
    // as it would towards a window being destroyed.
    pty.Send(std::string(200, 'b'));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(test::ThreadCount(), threads);
  test::Pump(20ms);
  EXPECT_TRUE(owner.bytes.empty()) << "nothing reaches an owner that is gone";
}

// A port double that fails on request and records what was asked of it.
struct FakePort final : ISerialPort {
  explicit FakePort(std::vector<std::string>& log, std::string failAt) : log(log), failAt(std::move(failAt)) {}
  bool Step(const char* name) {
    log.emplace_back(name);
    return failAt != name;
  }
  bool SetTimeouts(const CommTimeouts&) override { return Step("timeouts"); }
  bool SetMask(std::uint32_t m) override {
    mask = m;
    return Step("mask");
  }
  std::uint32_t GetMask() const override { return mask; }
  bool GetState(LineState&) override { return Step("getstate"); }
  bool BuildState(std::string_view text, LineState& s) override {
    settings = std::string(text);
    return Step("build") && ApplySettingsText(text, s);
  }
  bool SetState(const LineState& s) override {
    state = s;
    return Step("setstate");
  }
  bool Purge() override { return Step("purge"); }
  bool QueryStatus(PortStatus& s) override {
    s = {};
    return true;
  }
  IoResult ReadByte(std::uint8_t&) override { return IoResult::Pending; }
  bool FinishRead(std::uint8_t&) override { return false; }
  bool Write(std::span<const std::uint8_t> bytes) override {
    written.emplace_back(bytes.begin(), bytes.end());
    return Step("write");
  }
  int EventFd() const override { return -1; }

  std::vector<std::string>& log;
  std::string failAt;
  std::uint32_t mask = 0;
  std::string settings;
  LineState state;
  inline static std::vector<std::vector<std::uint8_t>> written;
};

struct FakeOpener final : IPortOpener {
  std::unique_ptr<ISerialPort> Open(std::string_view name, int&, std::string& path) override {
    names.emplace_back(name);
    path = "fake";
    auto port = std::make_unique<FakePort>(log, failAt);
    last = port.get();
    return port;
  }
  std::vector<std::string> log;
  std::vector<std::string> names;
  std::string failAt;
  FakePort* last = nullptr;
};

TEST(SerialChannelConfig, AFailingStepIsReportedAndSkipsTheRestButNotThePurge) {
  const struct {
    const char* failAt;
    const char* label;
    std::vector<std::string> steps;
  } cases[] = {
      {"timeouts", "SetCommTimeouts()", {"timeouts", "purge"}},
      {"mask", "SetCommMask()", {"timeouts", "mask", "purge"}},
      {"getstate", "GetCommState()", {"timeouts", "mask", "getstate", "purge"}},
      {"build", "BuildCommDCB()", {"timeouts", "mask", "getstate", "build", "purge"}},
      {"setstate", "SetCommState()", {"timeouts", "mask", "getstate", "build", "setstate", "purge"}},
      {"", nullptr, {"timeouts", "mask", "getstate", "build", "setstate", "purge"}},
  };
  for (const auto& c : cases) {
    auto opener = std::make_shared<FakeOpener>();
    opener->failAt = c.failAt;
    CSerialChannel channel(opener);
    Owner owner;
    EXPECT_EQ(channel.Open(&owner, 12, 57600, 'N', 8, 1, 3, 1024), 1) << c.failAt;
    EXPECT_EQ(channel.m_bError, c.label ? 1 : 0) << c.failAt;
    if (c.label) {
      EXPECT_STREQ(channel.LastFailure(), c.label);
    }
    EXPECT_EQ(opener->log, c.steps) << c.failAt;
    EXPECT_EQ(opener->names, std::vector<std::string>{"\\\\.\\COM12"});
    if (!*c.failAt) {
      EXPECT_EQ(opener->last->settings, "baud=57600 parity=N data=8 stop=1");
      EXPECT_TRUE(opener->last->state.rtsEnabled);
      EXPECT_EQ(opener->last->state.eventChar, 'q');
      EXPECT_EQ(opener->last->mask, 3u);
    }
  }
}

TEST(SerialChannelConfig, EveryWritePurgesFirstAndAFailedWriteIsReported) {
  for (const char* failAt : {"", "write"}) {
    auto opener = std::make_shared<FakeOpener>();
    opener->failAt = failAt;
    FakePort::written.clear();
    CSerialChannel channel(opener);
    Owner owner;
    ASSERT_EQ(channel.Open(&owner, 3, 57600, 'N', 8, 1, 3, 1024), 1);
    opener->log.clear();
    ASSERT_EQ(channel.StartMonitor(), 1);
    ASSERT_TRUE(test::WaitUntil([&] { return !opener->log.empty(); }));  // the monitor's own purge
    const std::uint8_t a[] = {'a', 'b', 'c'};
    ASSERT_TRUE(channel.QueueWrite(a));
    ASSERT_TRUE(test::WaitUntil([&] { return FakePort::written.size() == 1; }));
    const std::uint8_t b[] = {'d'};
    ASSERT_TRUE(channel.QueueWrite(b));
    ASSERT_TRUE(test::WaitUntil([&] { return FakePort::written.size() == 2; }));
    channel.Close();
    EXPECT_EQ(opener->log, (std::vector<std::string>{"purge", "purge", "write", "purge", "write"}));
    EXPECT_EQ(FakePort::written[0], (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(FakePort::written[1], (std::vector<std::uint8_t>{'d'}));
    EXPECT_EQ(channel.m_bError, *failAt ? 1 : 0);
    if (*failAt) {
      EXPECT_STREQ(channel.LastFailure(), "WriteFile()");
    }
  }
}

}  // namespace
}  // namespace vantorq
