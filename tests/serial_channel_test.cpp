// The serial channel against real pseudo-terminals, and against a port
// double where a failure has to be made to happen.

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <utime.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <csignal>
#include <atomic>
#include <functional>
#include <future>
#include <numeric>
#include <tuple>
#include <thread>
#include <vector>

#include "LineDouble.h"
#include "LockFile.h"
#include "OpenFailure.h"
#include "PseudoTerminal.h"
#include "SerialChannel.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

struct Owner final : CSerialOwner {
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    sequence.emplace_back(message, wParam);
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
  // Everything, in the order handled.
  std::vector<std::pair<unsigned, std::uintptr_t>> sequence;
  std::function<void()> onByte;
};

std::vector<std::uint8_t> Text(std::string_view s) { return {s.begin(), s.end()}; }

// A line on COMn: a pseudo-terminal behind a link in a private port folder.
class Line : public ::testing::Test {
 protected:
  sim::CPseudoTerminal& Attach(unsigned com) { return m_lines.Attach(com); }

  static bool Start(CSerialChannel& channel) {
    return channel.StartMonitor() == 1 && test::WaitUntil([&] { return channel.MonitorRunning(); });
  }

  int OpenConsoleWay(CSerialChannel& channel, Owner& owner, unsigned com) {
    return channel.Open(&owner, com, 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 1024);
  }

  test::CPortLines m_lines;
  const sim::CPortFolder& m_folder = m_lines.Folder();
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

TEST_F(Line, TheLineIsSetUpRaw57600EightNoneOneAndLeftAsItWasFound) {
  auto& pty = Attach(2);
  // A terminal somebody uses: cooked, echoing, 9600 baud.
  termios inUse{};
  ASSERT_TRUE(pty.FarAttributes(inUse));
  inUse.c_lflag |= ICANON | ECHO | ISIG;
  inUse.c_oflag |= OPOST;
  inUse.c_iflag |= ICRNL;
  cfsetispeed(&inUse, B9600);
  cfsetospeed(&inUse, B9600);
  {
    const int fd = ::open(pty.FarPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &inUse), 0);
    ::close(fd);
  }
  ASSERT_TRUE(pty.FarAttributes(inUse));
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
  channel.Close();
  ASSERT_TRUE(pty.FarAttributes(t));
  EXPECT_EQ(std::tie(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag),
            std::tie(inUse.c_iflag, inUse.c_oflag, inUse.c_cflag, inUse.c_lflag));
  EXPECT_EQ(cfgetospeed(&t), B9600);
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

TEST_F(Line, OnAPseudoTerminalAPurgeNeverTakesBackWhatWasWritten) {
  // A pseudo-terminal (the simulator, a socat gateway) has no output queue
  // of its own: what we wrote waits in the far end's input until it reads,
  // and counts as sent. The purge before the next write must leave it; a
  // purge straight after each write shows it at once.
  auto& pty = Attach(3);
  OpenAttempt attempt;
  const auto port = PosixPortOpener()->Open("COM3", attempt);
  ASSERT_NE(port, nullptr) << attempt.error;
  std::vector<std::uint8_t> all;
  for (int i = 0; i < 20; ++i) {
    const auto command = Text("\r\nSET IN1 EDID " + std::to_string(10 + i) + "\r\n");
    std::size_t written = 0;
    ASSERT_EQ(port->Write(command, written), IoResult::Done);
    ASSERT_EQ(written, command.size());
    port->Purge();
    all.insert(all.end(), command.begin(), command.end());
  }
  EXPECT_EQ(pty.Receive(2000ms), all);
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
  // A joined thread may linger in /proc for a moment after its join.
  EXPECT_TRUE(test::WaitUntil([&] { return test::ThreadCount() == threads; }, std::chrono::milliseconds(1000)))
      << test::ThreadCount() << " threads, " << threads << " before";
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
  // A joined thread may linger in /proc for a moment after its join.
  EXPECT_TRUE(test::WaitUntil([&] { return test::ThreadCount() == threads; }, std::chrono::milliseconds(1000)))
      << test::ThreadCount() << " threads, " << threads << " before";
  test::Pump(20ms);
  EXPECT_TRUE(owner.bytes.empty()) << "nothing reaches an owner that is gone";
}

TEST_F(Line, APortIsHeldExclusivelyWithALockFileAndReleasedOnClose) {
  auto& pty = Attach(4);
  const std::string lockFile = UucpLockDir() + "/" + UucpLockName(pty.FarPath());
  // The test runs as root, whom TIOCEXCL never stops: read the flag back.
  auto exclusive = [&] {
    const int fd = ::open(pty.FarPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int flag = -1;
    ::ioctl(fd, TIOCGEXCL, &flag);
    ::close(fd);
    return flag;
  };
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 4), 1);
  EXPECT_EQ(exclusive(), 1);
  std::string text;
  ASSERT_TRUE(test::ReadFile(lockFile, text)) << lockFile;
  EXPECT_EQ(text, std::string(10 - std::to_string(::getpid()).size(), ' ') + std::to_string(::getpid()) + "\n");
  channel.Close();
  EXPECT_EQ(exclusive(), 0);
  EXPECT_NE(::access(lockFile.c_str(), F_OK), 0) << "the lock file goes with the port";
  // Another program took the lock over meanwhile (it found ours stale):
  // closing must leave that program's lock alone.
  ASSERT_EQ(OpenConsoleWay(channel, owner, 4), 1);
  ASSERT_TRUE(test::WriteFile(lockFile, "         1\n"));
  channel.Close();
  ASSERT_TRUE(test::ReadFile(lockFile, text));
  EXPECT_EQ(text, "         1\n");
  ::unlink(lockFile.c_str());
}

TEST(LockFile, AHolderWeMayNotSignalIsAlive) {
  // An ordinary user asking after a root process is told EPERM: it is there.
  // The tests run as root, so the asking is done by a child that gave root up.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  char dir[] = "/tmp/vantorq-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ::chmod(dir, 0777);
  EXPECT_EXIT(
      {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(4);
        ::setenv("VANTORQ_LOCK_DIR", dir, 1);
        if (!test::WriteFile(std::string(dir) + "/" + UucpLockName("/dev/null"), "         1\n")) std::_Exit(5);
        CUucpLock lock;
        std::string holder;
        const int busy = lock.Acquire("/dev/null", holder);
        std::_Exit(busy == EBUSY && holder.rfind("PID 1", 0) == 0 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  std::filesystem::remove_all(dir);
}

TEST_F(Line, ALiveProgramsLockFileKeepsThePortAndAStaleOneIsTakenOver) {
  auto& pty = Attach(4);
  const std::string lockFile = UucpLockDir() + "/" + UucpLockName(pty.FarPath());
  const pid_t dead = ::fork();
  if (dead == 0) std::_Exit(0);
  ::waitpid(dead, nullptr, 0);
  // A holder whose name would retitle the operator's terminal.
  const pid_t rogue = ::fork();
  if (rogue == 0) {
    ::prctl(PR_SET_NAME, "\x1b]0;pwned\x07");
    ::pause();
    std::_Exit(0);
  }
  ASSERT_TRUE(test::WaitUntil([&] {
    std::string comm;
    return test::ReadFile("/proc/" + std::to_string(rogue) + "/comm", comm) && comm[0] == '\x1b';
  }));
  const struct {
    std::string content;
    int opened;
    std::string holder;  // the start of the reason, when refused
  } cases[] = {
      {"         1\n", 0, "PID 1"},                                  // init: always alive
      {std::to_string(::getpid()) + "\n", 0, "PID "},                 // this process, elsewhere
      {"      " + std::to_string(dead) + "\n", 1, ""},                // gone: stale
      {std::to_string(rogue) + "\n", 0, "PID " + std::to_string(rogue) + ", \\x1b]0;pwned\\x07"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    ASSERT_TRUE(test::WriteFile(lockFile, c.content));
    ::utime(lockFile.c_str(), nullptr);
    const timeval old[2] = {{1, 0}, {1, 0}};
    ::utimes(lockFile.c_str(), old);  // not one being written just now
    CSerialChannel channel;
    Owner owner;
    EXPECT_EQ(OpenConsoleWay(channel, owner, 4), c.opened);
    if (!c.holder.empty()) {
      EXPECT_EQ(channel.LastOpenError(), EBUSY);
      EXPECT_EQ(channel.LastOpen().holder.rfind(c.holder, 0), 0u) << channel.LastOpen().holder;
      EXPECT_EQ(OpenFailureReason(channel.LastOpen()).rfind("in use by another program (PID ", 0), 0u);
    } else {
      std::string text;
      ASSERT_TRUE(test::ReadFile(lockFile, text));
      EXPECT_EQ(std::stoi(text), ::getpid()) << "taken over";
    }
    channel.Close();
    ::unlink(lockFile.c_str());
  }
  ::kill(rogue, SIGKILL);
  ::waitpid(rogue, nullptr, 0);
}

TEST_F(Line, ALineTricklingInAtTheLineRateReachesTheWindowInOneHandOver) {
  auto& pty = Attach(6);
  CSerialChannel channel;
  Owner owner;
  ASSERT_EQ(OpenConsoleWay(channel, owner, 6), 1);
  ASSERT_TRUE(Start(channel));
  // 57600 baud: a byte every 174 us. Two thread wake-ups per byte would
  // cost half a core; one hand-over per line costs almost nothing.
  const std::string line = "IN1 EDID 07\r\n";
  const auto before = channel.HandOvers();
  for (char c : line) {
    pty.Send(std::string_view(&c, 1));
    std::this_thread::sleep_for(174us);
  }
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == line.size(); }));
  EXPECT_LE(channel.HandOvers() - before, 2u);
  EXPECT_EQ(owner.bytes, std::vector<std::uint8_t>(line.begin(), line.end()));
  // Bytes already waiting go at once, many to a hand-over.
  pty.Send(std::string(3000, 'b'));
  const auto burst = channel.HandOvers();
  ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == line.size() + 3000; }));
  EXPECT_LE(channel.HandOvers() - burst, 6u);
}

// Ports on line doubles: the hardware's behaviour a pseudo-terminal cannot show.
class OnDouble : public ::testing::Test {
 protected:
  explicit OnDouble(std::shared_ptr<IClock> clock = SystemClock())
      : m_clock(clock), m_line(std::make_shared<sim::CLineDouble>(clock)),
        m_opener(std::make_shared<sim::CLineOpener>()), m_channel(m_opener, clock) {
    m_opener->Add(3, m_line);
  }
  void TearDown() override { m_line->ReleaseWaits(); }
  int Open() { return m_channel.Open(&m_owner, 3, 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 1024); }
  bool OpenAndStart() {
    return Open() == 1 && m_channel.StartMonitor() == 1 &&
           test::WaitUntil([&] { return m_channel.MonitorRunning(); });
  }
  // Opened and started, with the monitor parked before its first wait.
  bool OpenParked() {
    m_line->HoldWaits();
    return Open() == 1 && m_channel.StartMonitor() == 1 && test::WaitUntil([&] { return m_line->MonitorParked(); });
  }
  std::size_t Count(const std::string& op) { return Count(*m_line, op); }
  static std::size_t Count(sim::CLineDouble& line, const std::string& op) {
    const auto log = line.Log();
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), op));
  }

  std::shared_ptr<IClock> m_clock;
  std::shared_ptr<sim::CLineDouble> m_line;
  std::shared_ptr<sim::CLineOpener> m_opener;
  Owner m_owner;
  CSerialChannel m_channel;
};


TEST_F(OnDouble, ACommandQueuedWhileTheLastStillDrainsReachesTheWireWhole) {
  ASSERT_TRUE(OpenAndStart());
  // 57600 baud: the first takes 4 ms on the wire, the user-EDID write 137 ms.
  const auto first = Text("\r\nSET OUT1 IMAGE ENH 2\r\n");
  const auto second = Text("\r\nSET IN1 EDID 07\r\n");
  const std::vector<std::uint8_t> big(790, 'E');
  std::vector<std::uint8_t> expected;
  for (const std::vector<std::uint8_t>* command : {&first, &second, &big, &first}) {
    const auto writes = Count("write");
    ASSERT_TRUE(m_channel.QueueWrite(*command));
    ASSERT_TRUE(test::WaitUntil([&] { return Count("write") > writes; })) << "the write began";
    std::this_thread::sleep_for(1ms);
    expected.insert(expected.end(), command->begin(), command->end());
  }
  ASSERT_TRUE(test::WaitUntil([&] { return m_line->Wire().size() >= expected.size(); }, 3000ms));
  test::Pump(10ms);
  EXPECT_EQ(m_line->Wire(), expected) << "a purge threw away bytes still in the output queue";
  EXPECT_EQ(m_channel.m_bError, 0) << m_channel.LastFailure();
}

TEST_F(OnDouble, EveryWritePurgesFirstAndNeverWaitsForTheWriteBeforeIt) {
  ASSERT_TRUE(OpenAndStart());
  m_line->ClearLog();
  const auto big = std::vector<std::uint8_t>(790, 'E');
  ASSERT_TRUE(m_channel.QueueWrite(big));
  ASSERT_TRUE(test::WaitUntil([&] { return Count("write") == 1; }));
  // The 137 ms write drains under the port's lock; queuing the next one
  // must not wait for it.
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_channel.QueueWrite(Text("d")));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 50ms);
  ASSERT_TRUE(test::WaitUntil([&] { return m_line->Wire().size() == 791; }));
  m_channel.Close();
  EXPECT_EQ(m_line->Log(), (std::vector<std::string>{"purge", "write", "purge", "write"}));
}

// A clock that only moves when the monitor waits: stalled lines time out at once.
class OnDoubleWithManualClock : public OnDouble {
 protected:
  OnDoubleWithManualClock() : OnDouble(std::make_shared<CManualClock>()) {}
};

TEST_F(OnDoubleWithManualClock, AWriteThatDoesNotLeaveInTimeIsAFailureAndReleasesTheLock) {
  const struct {
    const char* name;
    std::function<void(sim::CLineDouble&)> fault;
  } cases[] = {
      {"stalled wire", [](sim::CLineDouble& l) { l.StallWire(); }},
      {"stalled wire, queue full", [](sim::CLineDouble& l) { l.StallWire(); l.SetQueueCapacity(16); }},
      {"cut short after 5 bytes", [](sim::CLineDouble& l) { l.FailWriteAfter(5); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<sim::CLineDouble>(m_clock);
    m_opener->Add(3, line);
    m_channel.m_bError = 0;
    ASSERT_TRUE(OpenAndStart());
    c.fault(*line);
    const auto start = m_clock->Now();
    ASSERT_TRUE(m_channel.QueueWrite(std::vector<std::uint8_t>(790, 'E')));
    ASSERT_TRUE(test::WaitUntil([&] { return m_channel.m_bError != 0; }));
    EXPECT_STREQ(m_channel.LastFailure(), "WriteFile()");
    // 1000 ms and twice the 137 ms the bytes take on the wire.
    EXPECT_LE(m_clock->Now() - start, 1000ms + 2 * 138ms);
    // The lock is free again: another request is taken and carried out.
    ASSERT_TRUE(m_channel.QueueWrite(Text("x")));
    ASSERT_TRUE(test::WaitUntil([&] { return Count(*line, "write") >= 2; }))
        << "the lock was kept";
    m_channel.Close();
    EXPECT_FALSE(m_channel.HasPort());
  }
}

class OnDoubleWithDrivenClock : public OnDouble {
 protected:
  OnDoubleWithDrivenClock() : OnDouble(std::make_shared<test::CDrivenClock>()) {}
  test::CDrivenClock& Clock() { return static_cast<test::CDrivenClock&>(*m_clock); }
  void TearDown() override {
    Clock().Release();
    OnDouble::TearDown();
  }
};

TEST_F(OnDoubleWithDrivenClock, ClosingDuringAStalledWriteNeitherWaitsForItNorFailsTheLine) {
  // Flow control holds the line and the queue is full: the close is the
  // operator's. It ends the write at once, and is no failure of the line.
  ASSERT_TRUE(OpenAndStart());
  m_line->StallWire();
  m_line->SetQueueCapacity(16);
  ASSERT_TRUE(m_channel.QueueWrite(std::vector<std::uint8_t>(790, 'E')));
  ASSERT_TRUE(test::WaitUntil([&] { return Count("write") >= 2; })) << "the queue filled";
  auto closed = std::async(std::launch::async, [&] { m_channel.Close(); });
  const bool done = closed.wait_for(5s) == std::future_status::ready;
  Clock().Release();
  closed.wait();
  EXPECT_TRUE(done) << "Close waited for the stalled write";
  EXPECT_EQ(m_channel.m_bError, 0) << m_channel.LastFailure();
}

TEST_F(OnDoubleWithManualClock, AWriteJustInsideItsDeadlineIsSentAndOneJustOutsideIsNot) {
  // 790 bytes at 57600 8N1 (ten bits a byte) take 137.2 ms on the wire; the
  // deadline is 1000 ms and twice that. The far end holds the line first.
  const struct {
    const char* name;
    std::chrono::milliseconds hold;
    WriteOutcome outcome;
  } cases[] = {
      {"done 2.8 ms inside", 1135ms, WriteOutcome::Sent},
      {"done 2.2 ms outside", 1140ms, WriteOutcome::Stalled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<sim::CLineDouble>(m_clock);
    m_opener->Add(3, line);
    m_owner.sequence.clear();
    ASSERT_TRUE(OpenAndStart());
    line->HoldLine(c.hold);
    const WriteTicket ticket = m_channel.QueueWrite(std::vector<std::uint8_t>(790, 'E'));
    auto written = [&] {
      for (const auto& [message, wParam] : m_owner.sequence) {
        if (message == WM_SERIAL_WRITTEN) return wParam;
      }
      return std::uintptr_t{0};
    };
    ASSERT_TRUE(test::WaitUntil([&] { return written() != 0; }));
    EXPECT_EQ(WrittenTicket(written()), ticket);
    EXPECT_EQ(WrittenOutcome(written()), c.outcome);
    EXPECT_EQ(m_channel.m_bError, c.outcome == WriteOutcome::Sent ? 0 : 1);
    m_channel.Close();
    m_channel.m_bError = 0;
  }
}

TEST_F(OnDoubleWithDrivenClock, ATrickleIsGatheredForFourMillisecondsAndNoLonger) {
  // Bytes that follow the first within 4 ms go in its hand-over; at 4 ms
  // what has come is handed over, and not a moment earlier.
  ASSERT_TRUE(OpenAndStart());
  const auto start = m_channel.HandOvers();
  m_line->Feed("a");
  ASSERT_TRUE(test::WaitUntil([&] { return Clock().WaitsBegun() == 1; }));
  Clock().Advance(3999us);
  m_line->Feed("b");
  test::Pump(5ms);
  EXPECT_TRUE(m_owner.bytes.empty()) << "handed over before 4 ms";
  Clock().Advance(1us);
  ASSERT_TRUE(test::WaitUntil([&] { return m_owner.bytes.size() == 2; }));
  EXPECT_EQ(m_channel.HandOvers() - start, 1u);
  // Alone: handed over at 4 ms, without waiting for more.
  m_line->Feed("c");
  ASSERT_TRUE(test::WaitUntil([&] { return Clock().WaitsBegun() == 2; }));
  Clock().Advance(4000us);
  ASSERT_TRUE(test::WaitUntil([&] { return m_owner.bytes.size() == 3; }));
  EXPECT_EQ(m_owner.bytes, Text("abc"));
}

TEST_F(OnDoubleWithDrivenClock, AWriteIsSentOnlyOnceItsLastByteHasLeft) {
  // One byte, 174 us on the wire: while it has not left, the write is not done.
  ASSERT_TRUE(OpenAndStart());
  ASSERT_TRUE(m_channel.QueueWrite(Text("x")));
  auto told = [&] {
    return std::any_of(m_owner.sequence.begin(), m_owner.sequence.end(),
                       [](const auto& n) { return n.first == WM_SERIAL_WRITTEN; });
  };
  ASSERT_TRUE(test::WaitUntil([&] { return told() || Clock().WaitsBegun() > 0; }));
  test::Pump(5ms);
  EXPECT_FALSE(told()) << "done with the byte still on the line";
  Clock().Advance(200us);
  ASSERT_TRUE(test::WaitUntil(told));
  EXPECT_EQ(m_line->Wire(), Text("x"));
}

TEST_F(OnDouble, AWakeUpHandsOverItsBytesInOrderThenOneEventCharacterNotice) {
  // One list for bytes and notices alike: the order between them counts.
  ASSERT_TRUE(OpenParked());
  m_line->Feed("aqc");
  m_line->ReleaseWaits();
  ASSERT_TRUE(test::WaitUntil([&] { return m_owner.sequence.size() == 4; }));
  test::Pump(10ms);
  using N = std::pair<unsigned, std::uintptr_t>;
  EXPECT_EQ(m_owner.sequence, (std::vector<N>{{WM_SERIAL_BYTE, 'a'}, {WM_SERIAL_BYTE, 'q'}, {WM_SERIAL_BYTE, 'c'},
                                             {WM_SERIAL_RXFLAG, 0}}));
}

TEST_F(OnDouble, EveryFailurePointIsReportedThroughTheChannel) {
  const struct {
    const char* label;
    std::function<void(sim::CLineDouble&)> fault;
    bool afterStart;  // the fault needs the monitor running
  } cases[] = {
      {"SetCommTimeouts()", [](sim::CLineDouble& l) { l.FailStep("timeouts"); }, false},
      {"SetCommMask()", [](sim::CLineDouble& l) { l.FailStep("mask"); }, false},
      {"GetCommState()", [](sim::CLineDouble& l) { l.FailStep("getstate"); }, false},
      {"BuildCommDCB()", [](sim::CLineDouble& l) { l.FailStep("build"); }, false},
      {"SetCommState()", [](sim::CLineDouble& l) { l.FailStep("setstate"); }, false},
      {"WaitCommEvent()", [](sim::CLineDouble& l) { l.FailStep("wait"); }, true},
      {"ReadFile()", [](sim::CLineDouble& l) { l.FailReadAfter(2, sim::ReadFault::Refused); l.Feed("abcd"); }, true},
      {"GetOverlappedResults() in ReadFile()",
       [](sim::CLineDouble& l) { l.FailReadAfter(2, sim::ReadFault::LostWhilePending); l.Feed("abcd"); }, true},
      {"WriteFile()", [](sim::CLineDouble& l) { l.FailWriteAfter(0); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto line = std::make_shared<sim::CLineDouble>();
    m_opener->Add(3, line);
    Owner owner;
    CSerialChannel channel(m_opener);
    // Good bytes before a failed read are handled as good: the owner drops
    // whatever arrives once the flag is up.
    std::vector<int> flagAtByte;
    owner.onByte = [&] { flagAtByte.push_back(channel.m_bError); };
    if (!c.afterStart) c.fault(*line);
    ASSERT_EQ(channel.Open(&owner, 3, 57600, 'N', 8, 1, 3, 1024), 1) << "a configuration failure still opens";
    ASSERT_EQ(channel.StartMonitor(), 1);
    ASSERT_TRUE(test::WaitUntil([&] { return channel.MonitorRunning(); }));
    if (c.afterStart) c.fault(*line);
    if (std::string_view(c.label) == "WriteFile()") channel.QueueWrite(Text("GET STA"));
    if (std::string_view(c.label) == "WaitCommEvent()") line->Feed("z");  // wake it
    ASSERT_TRUE(test::WaitUntil([&] { return channel.m_bError != 0; }));
    EXPECT_STREQ(channel.LastFailure(), c.label);
    if (std::string_view(c.label).find("Read") != std::string_view::npos) {
      // The failed read is still notified, so that the owner notices.
      ASSERT_TRUE(test::WaitUntil([&] { return owner.bytes.size() == 3; }));
      EXPECT_EQ(owner.bytes[0], 'a');
      EXPECT_EQ(owner.bytes[1], 'b');
      EXPECT_EQ(std::vector<int>(flagAtByte.begin(), flagAtByte.begin() + 3), (std::vector<int>{0, 0, 1}));
    }
    channel.Close();
  }
}

TEST_F(OnDouble, TheConfigurationRunsInOrderAndStopsAtTheFirstFailure) {
  const std::vector<std::string> all{"timeouts", "mask", "getstate", "build", "setstate", "purge"};
  for (std::size_t failAt = 0; failAt <= 5; ++failAt) {
    auto line = std::make_shared<sim::CLineDouble>();
    m_opener->Add(12, line);
    if (failAt < 5) line->FailStep(all[failAt]);
    CSerialChannel channel(m_opener);
    EXPECT_EQ(channel.Open(&m_owner, 12, 57600, 'N', 8, 1, 3, 1024), 1);
    std::vector<std::string> expected(all.begin(), all.begin() + static_cast<long>(std::min<std::size_t>(failAt + 1, 5)));
    expected.push_back("purge");
    EXPECT_EQ(line->Log(), expected) << failAt;
    EXPECT_EQ(channel.m_bError, failAt < 5 ? 1 : 0);
    if (failAt == 5) {
      EXPECT_EQ(line->Settings(), "baud=57600 parity=N data=8 stop=1");
      EXPECT_TRUE(line->State().rtsEnabled);
      EXPECT_EQ(line->State().eventChar, 'q');
      EXPECT_EQ(line->Mask(), 3u);
    }
  }
  EXPECT_EQ(m_opener->Names().back(), "\\\\.\\COM12");
}

TEST_F(OnDouble, InputAlreadyWaitingIsDeliveredBeforeAWriteRequest) {
  // Both become ready while the monitor is parked; the lowest position of
  // the wait set wins, or the write's purge would throw the input away.
  ASSERT_TRUE(OpenParked());
  m_line->Feed("ab");
  ASSERT_TRUE(m_channel.QueueWrite(Text("x")));
  m_line->ClearLog();
  m_line->ReleaseWaits();
  ASSERT_TRUE(test::WaitUntil([&] { return m_line->Wire().size() == 1 && m_owner.bytes.size() == 2; }));
  EXPECT_EQ(m_owner.bytes, Text("ab"));
  EXPECT_EQ(m_line->Log(), (std::vector<std::string>{"read", "read", "purge", "write"}));
}

TEST_F(OnDouble, CloseDeliversAtMostTheByteInFlight) {
  // The owner's thread is busy (nothing is dispatched) while a whole
  // status line waits; closing must not let the line through.
  for (int run = 0; run < 100; ++run) {
    auto line = std::make_shared<sim::CLineDouble>();
    m_opener->Add(3, line);
    Owner owner;
    CSerialChannel channel(m_opener);
    ASSERT_EQ(channel.Open(&owner, 3, 57600, 'N', 8, 1, 3, 1024), 1);
    ASSERT_EQ(channel.StartMonitor(), 1);
    while (!channel.MonitorRunning()) std::this_thread::yield();  // past its start-up purge
    line->Feed("IN1 EDID 07\r\n");
    // The monitor has read byte 1 and waits for its delivery.
    while (Count(*line, "read") == 0) std::this_thread::yield();
    channel.Close();
    ASSERT_LE(owner.bytes.size(), 1u) << "run " << run;
    test::Pump(1ms);
    ASSERT_LE(owner.bytes.size(), 1u) << "run " << run << ": delivered after Close";
  }
}

TEST(SerialChannelLimits, WithoutDescriptorsOpenFailsAndCloseStillReturns) {
  // In a child, so that a hang shows as a failure and the limit stays there.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::alarm(10);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 256;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        // Made while descriptors remain: the sanitizers need one for their checks.
        Owner owner;
        auto channel = std::make_unique<CSerialChannel>();
        std::vector<int> held;
        for (int fd; (fd = ::dup(0)) >= 0;) held.push_back(fd);
        const int opened = channel->Open(&owner, 3, 57600, 'N', 8, 1, 3, 1024);
        const int started = channel->StartMonitor();
        channel->QueueWrite(std::vector<std::uint8_t>{'x'});
        channel->Close();
        const int error = channel->LastOpenError();
        for (int fd : held) ::close(fd);
        channel.reset();
        if (opened != 0 || started != 0 || error != EMFILE) std::_Exit(3);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantorq
