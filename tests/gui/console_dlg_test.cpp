// The main window, driven through its own widgets, offscreen.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <thread>

#include "ConsoleApp.h"
#include "ConsoleDlg.h"
#include "LockFile.h"
#include "DialogBuilder.h"
#include "EdidPage.h"
#include "LineDouble.h"
#include "PseudoTerminal.h"
#include "SettingsPage.h"
#include "WindowTimers.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

class ConsoleWindow : public ::testing::Test {
 protected:
  void SetUp() override { m_dlg = std::make_unique<CConsoleDlg>(); }
  void TearDown() override { m_dlg.reset(); }

  sim::CPseudoTerminal& Attach(unsigned com) { return m_lines.Attach(com); }

  void Feed(std::string_view bytes, unsigned port) {
    for (char c : bytes) m_dlg->OnSerialByte(static_cast<std::uint8_t>(c), port);
  }
  // The open asks the device's state: that question is on the line, and
  // what the test sends next is not purged by its write.
  static bool ProbeArrived(sim::CPseudoTerminal& pty) {
    const std::string probe = "\r\nGET STA\r\n";
    return pty.Receive(std::chrono::milliseconds(3000)) == std::vector<std::uint8_t>(probe.begin(), probe.end());
  }

  test::CPortLines m_lines;
  const sim::CPortFolder& m_folder = m_lines.Folder();
  test::CDialogRecorder m_dialogs;
  std::unique_ptr<CConsoleDlg> m_dlg;
};

TEST_F(ConsoleWindow, StartsClosedOnCom1WithTheSettingsTab) {
  CConsoleDlg& d = *m_dlg;
  EXPECT_EQ(d.windowTitle(), "Vantorq V0.1");
  const auto units = res::DialogUnitsFor(d.font());
  EXPECT_EQ(d.size(), res::ToPixels(units, 0, 0, 479, 334).size());
  ASSERT_EQ(d.PortList()->count(), 99);
  d.PortList()->showPopup();  // the tooltips are read when the list opens
  d.PortList()->hidePopup();
  for (int i = 0; i < 99; ++i) {
    EXPECT_EQ(d.PortList()->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    EXPECT_EQ(d.PortList()->itemData(i, Qt::ToolTipRole).toString(),
              QString::fromStdString(m_folder.LinkPath(static_cast<unsigned>(i + 1))) + "\nnot present");
  }
  EXPECT_EQ(d.PortList()->currentIndex(), 0);
  EXPECT_EQ(d.PortButton()->text(), "Turn on Port");
  EXPECT_EQ(d.SearchButton()->text(), "Search Machine");
  EXPECT_FALSE(d.LampLit());
  EXPECT_FALSE(d.PortLamp()->pixmap().isNull());
  EXPECT_EQ(d.StatusLine()->text(), "") << "the blank shows only at the next push";
  EXPECT_EQ(d.m_strStatus, " ");
  EXPECT_EQ(d.m_bPortOpen, 0);
  EXPECT_EQ(d.Search().m_bSearching, 0);
  EXPECT_EQ(d.Router().m_bReadBack, 0);
  EXPECT_EQ(d.m_nPort, 1);
  EXPECT_EQ(d.m_nBaud, 57600);
  EXPECT_EQ(d.m_cParity, 'N');
  EXPECT_EQ(d.m_nEventMask, 3);
  ASSERT_EQ(d.Tab()->TabBar()->count(), 2);
  EXPECT_EQ(d.Tab()->TabBar()->tabText(0), "Settings");
  EXPECT_EQ(d.Tab()->TabBar()->tabText(1), "EDID Management");
  EXPECT_EQ(d.Tab()->GetCurSel(), 0);
  EXPECT_FALSE(d.m_serial.HasPort()) << "no port is opened at start";
  EXPECT_FALSE(d.windowIcon().isNull());
}

TEST_F(ConsoleWindow, TheShownPageAlwaysMatchesTheTab) {
  CConsoleDlg& d = *m_dlg;
  d.show();
  const QRect tab = d.Tab()->rect();
  // Below the tab row, which is as tall as its text (20 px at the least).
  const int row = d.Tab()->TabBar()->height();
  EXPECT_GE(row, 20);
  const QRect expected(tab.left() + 1, tab.top() + row, tab.width() - 3, tab.height() - row - 1);
  EXPECT_EQ(d.SettingsPage()->geometry(), expected);
  EXPECT_EQ(d.EdidPage()->geometry(), expected);
  for (int index : {1, 0, 1, 1, 0}) {
    d.Tab()->TabBar()->setCurrentIndex(index);
    EXPECT_EQ(d.SettingsPage()->isVisible(), index == 0);
    EXPECT_EQ(d.EdidPage()->isVisible(), index == 1);
  }
}

// Where each byte goes is tested on the router; here, what the window does
// when the router says the line has failed.
TEST_F(ConsoleWindow, ASerialErrorDropsBytesAndClosesThePortThroughTimer5) {
  CConsoleDlg& d = *m_dlg;
  Feed("c", 1);
  d.m_serial.m_bError = 1;
  Feed("e", 5);
  EXPECT_EQ(d.Router().m_strLine, "c") << "after a serial error every byte is dropped";
  EXPECT_TRUE(d.TimerRunning(ID_TIMER_COMM_ERROR));
  test::Pump(30ms);
  EXPECT_FALSE(d.TimerRunning(ID_TIMER_COMM_ERROR)) << "timer 5 stops itself";
  EXPECT_EQ(d.PortButton()->text(), "Open port");
}

TEST_F(ConsoleWindow, ThePortButtonOpensAndClosesThePort) {
  CConsoleDlg& d = *m_dlg;
  auto& pty = Attach(1);
  d.PortButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return d.m_serial.MonitorRunning(); }));
  EXPECT_EQ(d.m_bPortOpen, 1);
  EXPECT_TRUE(d.LampLit());
  EXPECT_EQ(d.PortButton()->text(), "Close Port");
  EXPECT_TRUE(d.m_serial.HasPort());
  ASSERT_TRUE(ProbeArrived(pty));
  pty.Send("xy");
  EXPECT_TRUE(test::WaitUntil([&] { return d.Router().m_strLine == "xy"; }));
  d.PortButton()->click();
  EXPECT_EQ(d.m_bPortOpen, 0);
  EXPECT_FALSE(d.LampLit());
  EXPECT_EQ(d.PortButton()->text(), "Turn on Port");
  EXPECT_FALSE(d.m_serial.HasPort());
  EXPECT_TRUE(m_dialogs->messages.isEmpty());
}

TEST_F(ConsoleWindow, APortThatCannotBeOpenedIsSaidSoAndStaysDark) {
  CConsoleDlg& d = *m_dlg;
  ::testing::internal::CaptureStderr();
  d.PortButton()->click();  // nothing on COM1
  const std::string missing = "COM1 (" + m_folder.LinkPath(1) + "): no such device";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "vantorq: cannot open " + missing + "\n")
      << "the terminal is told why";
  EXPECT_EQ(m_dialogs->messages,
            QStringList{"Can not find this port or used by other application"});
  EXPECT_EQ(m_dialogs->details, QStringList{QString::fromStdString(missing)}) << "and so is the operator, beneath";
  EXPECT_EQ(d.m_bPortOpen, 0);
  EXPECT_FALSE(d.LampLit());
  EXPECT_EQ(d.PortButton()->text(), "Turn on Port");

  // Held by another program: busy.
  Attach(2);
  CSerialChannel other;
  ASSERT_EQ(other.Open(nullptr, 2, 57600, 'N', 8, 1, 3, 1024), 1);
  ::testing::internal::CaptureStderr();
  d.PortList()->setCurrentIndex(1);
  emit d.PortList()->activated(1);
  const std::string busy = "COM2 (" + m_folder.LinkPath(2) + "): in use by another program (PID " +
                           std::to_string(::getpid());
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("vantorq: cannot open " + busy, 0), 0u);
  ASSERT_EQ(m_dialogs->messages.size(), 2);
  EXPECT_EQ(m_dialogs->messages[1], "Can not find this port or used by other application");
  EXPECT_TRUE(m_dialogs->details[1].startsWith(QString::fromStdString(busy))) << m_dialogs->details[1].toStdString();
}

TEST(ConsoleLine, APulledAdapterIsSaidInTheWindowInThisSystemsWords) {
  // An adapter that refuses every read and write, as a pulled one does.
  test::CDialogRecorder dialogs;
  const struct {
    const char* name;
    std::function<void(sim::CLineDouble&)> pull;
    std::function<void(CConsoleDlg&)> use;
    QString note;
  } cases[] = {
      {"under a read", [](sim::CLineDouble& l) { l.FailReadAfter(0, sim::ReadFault::Refused); },
       [](CConsoleDlg&) {}, "The line failed: read(): Input/output error \u2014 is the adapter still plugged in?"},
      {"under a write", [](sim::CLineDouble& l) { l.FailWriteAfter(0); },
       [](CConsoleDlg& d) { d.SettingsPage()->EnhancementGroup()->button(1)->click(); },
       "The line failed: write(): Input/output error \u2014 is the adapter still plugged in?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<sim::CLineDouble>();
    auto opener = std::make_shared<sim::CLineOpener>();
    opener->Add(1, line);
    CConsoleDlg d(nullptr, opener);
    d.PortButton()->click();
    ASSERT_TRUE(test::WaitUntil([&] { return d.m_serial.MonitorRunning() && line->Wire().size() == 11; }));
    ::testing::internal::CaptureStderr();
    c.pull(*line);
    line->Feed("IN1 EDID 07\r\n");
    c.use(d);
    ASSERT_TRUE(test::WaitUntil([&] { return d.PortButton()->text() == "Open port"; }));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(d.PortNote()->text(), c.note);
    EXPECT_EQ(d.PortButton()->toolTip(), c.note);
    for (const char* windows : {"ReadFile", "WriteFile", "WaitCommEvent", "Overlapped"}) {
      EXPECT_EQ(said.find(windows), std::string::npos) << said;
      EXPECT_FALSE(d.PortNote()->text().contains(windows));
    }
  }
}

TEST_F(ConsoleWindow, AHangUpClosesThePortThroughTimer5AndTheButtonReopens) {
  CConsoleDlg& d = *m_dlg;
  auto& pty = Attach(1);
  d.PortButton()->click();
  ASSERT_EQ(d.m_bPortOpen, 1);
  ASSERT_TRUE(test::WaitUntil([&] { return d.m_serial.MonitorRunning(); }));
  ASSERT_TRUE(ProbeArrived(pty)) << "the line fails under a read, not under the open's write";
  ::testing::internal::CaptureStderr();
  pty.HangUp();
  ASSERT_TRUE(test::WaitUntil([&] { return d.PortButton()->text() == "Open port"; }));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(d.m_bPortOpen, 0);
  EXPECT_FALSE(d.LampLit());
  EXPECT_FALSE(d.m_serial.HasPort());
  EXPECT_EQ(d.m_serial.m_bError, 1) << "kept until the next open";
  // In this system's words, where the operator looks and on standard error.
  const QString note = "The line failed: read(): the other end hung up \u2014 is the adapter still plugged in?";
  EXPECT_EQ(d.PortNote()->text(), note);
  EXPECT_EQ(d.PortButton()->toolTip(), note);
  const std::string why = "COM1 (" + m_folder.LinkPath(1) + "): the line failed: read(): the other end hung up; the port "
                          "was closed";
  EXPECT_EQ(said.rfind("vantorq: " + why + " \u2014 is the adapter still plugged in?\n", 0), 0u) << said;
  // What a screen reader reads of them now.
  EXPECT_EQ(d.PortLamp()->accessibleName(), "port closed");
  EXPECT_TRUE(d.PortButton()->accessibleDescription().startsWith(QString::fromStdString(why)));

  auto& again = Attach(1);
  d.PortButton()->click();
  EXPECT_EQ(d.m_serial.m_bError, 0);
  EXPECT_EQ(d.m_bPortOpen, 1);
  EXPECT_EQ(d.PortButton()->text(), "Close Port");
  EXPECT_TRUE(d.PortButton()->accessibleDescription().isEmpty());
  EXPECT_TRUE(d.PortNote()->text().isEmpty()) << "said until a port is opened again";
  EXPECT_TRUE(d.PortButton()->toolTip().isEmpty());
  ASSERT_TRUE(test::WaitUntil([&] { return d.m_serial.MonitorRunning(); }));
  ASSERT_TRUE(ProbeArrived(again));
  again.Send("ok");
  EXPECT_TRUE(test::WaitUntil([&] { return d.Router().m_strLine == "ok"; }));
}

TEST_F(ConsoleWindow, TheAboutItemOpensTheAboutBox) {
  CConsoleDlg& d = *m_dlg;
  QAction* about = d.findChild<QAction*>("aboutAction");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->text(), "&About Vantorq...");
  EXPECT_EQ(d.contextMenuPolicy(), Qt::ActionsContextMenu);
  ASSERT_EQ(d.actions().size(), 2);
  EXPECT_TRUE(d.actions().front()->isSeparator());

  QString caption;
  QStringList texts;
  bool closed = false;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    for (auto* label : box->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) texts << label->text();
    }
    auto* ok = box->findChild<QPushButton*>("ctl1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    ok->click();
    closed = true;
  });
  about->trigger();  // modal: returns once OK was clicked
  EXPECT_TRUE(closed);
  EXPECT_EQ(caption, "About 8X8 Matrix controller");
  EXPECT_EQ(texts, (QStringList{"Matrix CONSOLE Version 1.0", "Vantorq Console " VANTORQ_VERSION}))
      << "the form's words, and beneath them the version every program gives";
}

TEST_F(ConsoleWindow, ClosingWhileBytesStreamInEndsCleanly) {
  auto& pty = Attach(1);
  m_dlg->show();
  test::Pump(50ms);
  const int threads = test::ThreadCount();
  m_dlg->PortButton()->click();
  ASSERT_EQ(m_dlg->m_bPortOpen, 1);
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop) pty.Send("SOME STATUS LINE 123\r\n");
  });
  ASSERT_TRUE(test::WaitUntil([&] { return !m_dlg->Router().m_strLine.empty(); }));
  // Closed as the close box does, then destroyed as the application does,
  // with the monitor in the middle of a delivery.
  m_dlg->reject();
  m_dlg.reset();
  stop = true;
  feeder.join();
  // A joined thread may linger in /proc for a moment after its join.
  EXPECT_TRUE(test::WaitUntil([&] { return test::ThreadCount() == threads; }, std::chrono::milliseconds(1000)))
      << test::ThreadCount() << " threads, " << threads << " before";
}

TEST_F(ConsoleWindow, AnAnswerBufferedWhenTheSearchStepFiresNeverSplitsDisplayAndChannel) {
  CConsoleDlg& d = *m_dlg;
  auto& com1 = Attach(1);
  Attach(2);
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    d.SearchButton()->click();
    ASSERT_EQ(d.m_nPort, 1);
    ASSERT_TRUE(test::WaitUntil([&] { return d.m_serial.MonitorRunning(); }));
    // The device answers at the end of its window while this thread is
    // busy: the monitor holds the whole line and waits on its first byte
    // when timer 4 fires.
    com1.Send("IN1 EDID 07\r\n");
    std::this_thread::sleep_for(5ms);
    d.OnTimer(ID_TIMER_SEARCH);
    test::Pump(5ms);
    // Whichever won, the window shows where the channel is.
    if (d.m_bPortOpen != 0) {
      EXPECT_EQ(d.Search().m_bSearching, 0);
      EXPECT_EQ(d.PortList()->currentIndex(), d.m_nPort - 1);
    } else {
      EXPECT_EQ(d.Search().m_bSearching, 1);
      EXPECT_FALSE(d.LampLit());
      EXPECT_EQ(d.PortButton()->text(), "Turn on Port");
    }
    EXPECT_EQ(static_cast<int>(d.m_serial.PortNumber()), d.m_nPort);
    EXPECT_TRUE(d.m_serial.HasPort());
  }
}

TEST_F(ConsoleWindow, AnOperatorsChoiceOfPortEndsARunningSearch) {
  CConsoleDlg& d = *m_dlg;
  Attach(1);
  Attach(2);
  for (int how = 0; how < 2; ++how) {
    d.SearchButton()->click();
    ASSERT_EQ(d.Search().m_bSearching, 1);
    if (how == 0) {
      d.PortButton()->click();  // turn on the port being probed
    } else {
      d.PortList()->setCurrentIndex(1);
      emit d.PortList()->activated(1);
    }
    EXPECT_EQ(d.Search().m_bSearching, 0);
    EXPECT_FALSE(d.TimerRunning(ID_TIMER_SEARCH));
    EXPECT_EQ(d.StatusLine()->text(), " ");
    d.OnTimer(ID_TIMER_SEARCH);  // a timer event already on its way changes nothing
    EXPECT_EQ(d.m_bPortOpen, 1);
    EXPECT_TRUE(d.LampLit());
    EXPECT_EQ(static_cast<int>(d.m_serial.PortNumber()), d.m_nPort);
    EXPECT_TRUE(d.m_serial.HasPort());
    d.PortButton()->click();
  }
}

TEST_F(ConsoleWindow, ASearchThatFindsNothingSaysWhyBeneathItsMessage) {
  CConsoleDlg& d = *m_dlg;
  Attach(1);  // opens, never answers
  auto& held = Attach(2);
  const std::string lockFile = UucpLockDir() + "/" + UucpLockName(held.FarPath());
  ASSERT_TRUE(test::WriteFile(lockFile, "         1\n"));  // init holds it
  const timeval old[2] = {{1, 0}, {1, 0}};
  ::utimes(lockFile.c_str(), old);
  ::testing::internal::CaptureStderr();
  d.SearchButton()->click();
  d.OnTimer(ID_TIMER_SEARCH);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ::unlink(lockFile.c_str());
  ASSERT_EQ(m_dialogs->messages, QStringList{"Can not find available device for this console!"});
  const QStringList lines = m_dialogs->details[0].split('\n');
  ASSERT_EQ(lines.size(), 2) << m_dialogs->details[0].toStdString();
  EXPECT_EQ(lines[0], "No answer from COM1.");
  const std::string busy = "COM2 (" + m_folder.LinkPath(2) + "): in use by another program (PID 1";
  EXPECT_TRUE(lines[1].startsWith(QString::fromStdString(busy))) << lines[1].toStdString();
  EXPECT_EQ(err.rfind("vantorq: cannot open " + busy, 0), 0u) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "ports that are not there are not listed";
}

TEST(ConsoleShutdown, ASignalClosesTheWindowAndReleasesThePort) {
  sim::CPortFolder folder;
  test::CScopedEnv env("VANTORQ_PORT_DIR", folder.Path());
  auto pty = sim::CPseudoTerminal::Create();
  ASSERT_TRUE(pty && folder.Link(1, pty->FarPath()));
  const std::string lockFile = UucpLockDir() + "/" + UucpLockName(pty->FarPath());
  test::CDialogRecorder dialogs;
  // What each signal did before the window: once it is gone, they do it again.
  static std::atomic<int> seen{0};
  struct sigaction record {};
  record.sa_handler = [](int sig) { seen = sig; };
  sigemptyset(&record.sa_mask);
  std::map<int, struct sigaction> before;
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) ::sigaction(sig, &record, &before[sig]);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    bool opened = false;
    RunConsoleWindow([&](CConsoleDlg& d) {
      d.PortButton()->click();
      opened = d.m_bPortOpen == 1 && ::access(lockFile.c_str(), F_OK) == 0;
      // A reader of standard error that went away ends nothing.
      ::raise(SIGPIPE);
      ::raise(sig);
    });
    // Back here only because the signal closed the window.
    EXPECT_TRUE(opened) << sig;
    const int fd = ::open(pty->FarPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = -1;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    EXPECT_EQ(exclusive, 0) << sig;
    EXPECT_NE(::access(lockFile.c_str(), F_OK), 0) << sig;
    EXPECT_EQ(seen.exchange(0), 0) << sig << " reached the handler from before the window";
    for (int again : {sig, SIGPIPE}) {
      ::raise(again);
      EXPECT_EQ(seen.exchange(0), again) << "after the window";
    }
  }
  for (auto& [sig, action] : before) ::sigaction(sig, &action, nullptr);
}

TEST(WindowTimers, ATimerNeverFiresBeforeItsPeriodRunsOut) {
  // The search gives each port its window in full: a timer that fires even
  // a little early cuts a slow device off.
  using Clock = std::chrono::steady_clock;
  for (int period : {40, 100}) {
    Clock::time_point fired{};
    CWindowTimers timers([&](int) { fired = Clock::now(); });
    const auto start = Clock::now();
    timers.SetTimer(ID_TIMER_SEARCH, period);
    ASSERT_TRUE(test::WaitUntil([&] { return fired != Clock::time_point{}; }));
    EXPECT_GE(fired - start, std::chrono::milliseconds(period));
  }
}

TEST_F(ConsoleWindow, Screenshot) {
  m_dlg->show();
  const QImage shot = m_dlg->grab().toImage();
  EXPECT_EQ(shot.size(), m_dlg->size());
  const QString dir = qEnvironmentVariable("VANTORQ_SHOTS");
  if (!dir.isEmpty()) shot.save(dir + "/console.png");
}

}  // namespace
}  // namespace vantorq
