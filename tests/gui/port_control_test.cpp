// Port control, device search and status lines, end to end: the real
// window against the simulated device over pseudo-terminals.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cstring>

#include "ComPorts.h"
#include "Commands.h"
#include "LineDouble.h"
#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "EdidPage.h"
#include "SettingsPage.h"
#include "Simulator.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;


template <std::size_t N>
std::vector<std::uint8_t> Bytes(const protocol::CommandBytes<N>& c) {
  return {c.begin(), c.end()};
}

class WithSimulator : public ::testing::Test {
 protected:
  void Start(sim::SimOptions options) {
    m_device = std::make_unique<test::CSimulatedDevice>(options);
    ASSERT_TRUE(m_device->Started()) << m_device->Error();
    m_sim = &**m_device;
    m_dlg = std::make_unique<CConsoleDlg>();
  }
  void TearDown() override {
    m_dlg.reset();
    m_device.reset();
  }
  bool SearchEnded() { return test::WaitUntil([&] { return m_dlg->Search().m_bSearching == 0; }, 8000ms); }
  CConsoleDlg& D() { return *m_dlg; }

  test::CDialogRecorder m_dialogs;
  std::unique_ptr<test::CSimulatedDevice> m_device;
  sim::CSimulator* m_sim = nullptr;
  std::unique_ptr<CConsoleDlg> m_dlg;
};

// The search's windows and its order are tested on the state machine with a
// fake clock; here, the window around it against the real device.
TEST_F(WithSimulator, SearchFindsTheDeviceAndTheWindowShowsItsPortOpen) {
  Start({.com = 1, .noise = true, .splitMs = 5});
  D().m_nPort = 7;
  D().SearchButton()->click();
  EXPECT_EQ(D().Search().m_bSearching, 1);
  EXPECT_EQ(D().m_bPortOpen, 0);
  EXPECT_EQ(D().StatusLine()->text(), "Please wait.....");
  EXPECT_EQ(D().TimerPeriod(ID_TIMER_SEARCH), 500);
  ASSERT_TRUE(SearchEnded());
  EXPECT_EQ(g_nSavedPort, 7);
  EXPECT_EQ(D().m_nPort, 1);
  EXPECT_EQ(D().m_bPortOpen, 1);
  EXPECT_TRUE(D().LampLit());
  EXPECT_EQ(D().PortButton()->text(), "Close Port");
  EXPECT_EQ(D().PortList()->currentIndex(), 0);
  EXPECT_EQ(D().StatusLine()->text(), " ");
  EXPECT_FALSE(D().TimerRunning(ID_TIMER_SEARCH));
  EXPECT_TRUE(m_dialogs->messages.isEmpty());
  EXPECT_EQ(m_sim->Received(1), Bytes(protocol::ProbeCommand()));
  // The other status lines of the answer reach the pages, through the noise.
  ASSERT_TRUE(test::WaitUntil([&] { return D().SettingsPage()->m_nEnhancement == 0 && D().EdidPage()->m_nPreset == 7; }));
  EXPECT_EQ(res::CheckedIndex(*D().EdidPage()->PresetGroup()), 7);
  m_sim->WithDevice([](sim::CDevice& d) { EXPECT_EQ(d.Commands(), std::vector<std::string>{"GET STA"}); });
}

TEST_F(WithSimulator, ASilentPortsWindowRunsOutOnTimer4AndTheNextIsProbed) {
  Start({.com = 9, .silent = {1}});
  ::unlink((m_sim->PortDir() + "/COM9").c_str());
  D().m_nPort = 7;
  D().SearchButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return !m_sim->Received(1).empty(); }));
  D().OnTimer(ID_TIMER_SEARCH);  // COM1's window has run out
  EXPECT_EQ(D().Search().m_bSearching, 0);
  EXPECT_EQ(m_dialogs->messages, QStringList{"Can not find available device for this console!"});
  EXPECT_EQ(m_dialogs->details, QStringList{"No answer from COM1."});
  EXPECT_EQ(D().m_nPort, 7) << "back to the port chosen before";
  EXPECT_EQ(D().StatusLine()->text(), " ");
  EXPECT_EQ(D().PortList()->currentIndex(), 0) << "the list is not changed by a failed search";
  EXPECT_FALSE(D().m_serial.HasPort());
}

TEST_F(WithSimulator, AHangUpDuringASearchIsAPortThatDidNotAnswer) {
  Start({.com = 1, .hangUpAfter = 4});
  D().SearchButton()->click();
  // The search goes on past the failed port and ends with its message.
  ASSERT_TRUE(SearchEnded());
  EXPECT_EQ(m_dialogs->messages, QStringList{"Can not find available device for this console!"});
  ASSERT_EQ(m_dialogs->details.size(), 1);
  EXPECT_TRUE(m_dialogs->details[0].startsWith("COM1 (")) << m_dialogs->details[0].toStdString();
  EXPECT_TRUE(m_dialogs->details[0].endsWith("): the line failed while it was probed (read(): the other end hung up)"))
      << m_dialogs->details[0].toStdString();
  EXPECT_EQ(D().PortButton()->text(), "Turn on Port");
  EXPECT_EQ(D().StatusLine()->text(), " ");
  EXPECT_EQ(D().m_bPortOpen, 0);
  // The device comes back (replugged); the button opens the port again.
  ASSERT_TRUE(test::WaitUntil([&] {
    return ::access((m_sim->PortDir() + "/COM1").c_str(), F_OK) == 0;
  }));
  D().PortButton()->click();
  EXPECT_EQ(D().m_bPortOpen, 1);
  EXPECT_EQ(D().PortButton()->text(), "Close Port");
  EXPECT_EQ(D().m_serial.m_bError, 0);
}

// COM1 on a line double, every other port as the system has it.
class CFirstPortOnDouble final : public IPortOpener {
 public:
  explicit CFirstPortOnDouble(std::shared_ptr<sim::CLineDouble> line) { m_lines.Add(1, std::move(line)); }
  std::unique_ptr<ISerialPort> Open(std::string_view name, OpenAttempt& attempt) override {
    return ComPortFromName(name) == 1 ? m_lines.Open(name, attempt) : PosixPortOpener()->Open(name, attempt);
  }

 private:
  sim::CLineOpener m_lines;
};

TEST_F(WithSimulator, ASearchGoesOnPastAPortThatStallsOrFailsWhileProbed) {
  const struct {
    const char* name;
    std::function<void(sim::CLineDouble&)> fault;
  } cases[] = {
      {"output never drains", [](sim::CLineDouble& l) { l.StallWire(); l.SetQueueCapacity(4); }},
      {"its event wait fails", [](sim::CLineDouble& l) { l.FailStep("wait"); }},
  };
  Start({.com = 5});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<sim::CLineDouble>();
    c.fault(*line);
    m_dlg = std::make_unique<CConsoleDlg>(nullptr, std::make_shared<CFirstPortOnDouble>(line));
    D().SearchButton()->click();
    ASSERT_TRUE(SearchEnded());
    EXPECT_EQ(D().m_nPort, 5);
    EXPECT_EQ(D().PortButton()->text(), "Close Port");
    EXPECT_TRUE(D().LampLit());
    EXPECT_TRUE(m_dialogs->messages.isEmpty()) << m_dialogs->messages.join("|").toStdString();
  }
}

TEST_F(WithSimulator, ThePortButtonTwiceReturnsToClosed) {
  Start({.com = 1});
  D().PortButton()->click();
  EXPECT_TRUE(D().LampLit());
  D().PortButton()->click();
  EXPECT_FALSE(D().LampLit());
  EXPECT_EQ(D().PortButton()->text(), "Turn on Port");
  EXPECT_EQ(D().m_bPortOpen, 0);
}

TEST_F(WithSimulator, ChoosingAPortOpensItWhenClosedAndShowsClosedWhenOpen) {
  Start({.com = 5, .silent = {6}});
  const auto before = Clock::now();
  D().PortList()->setCurrentIndex(4);
  emit D().PortList()->activated(4);
  EXPECT_GE(Clock::now() - before, 200ms) << "the window pauses after opening";
  EXPECT_EQ(D().m_nPort, 5);
  EXPECT_EQ(D().m_bPortOpen, 1);
  EXPECT_TRUE(D().LampLit());
  EXPECT_EQ(D().PortButton()->text(), "Close Port");

  D().PortList()->setCurrentIndex(5);
  emit D().PortList()->activated(5);
  EXPECT_EQ(D().m_nPort, 6);
  EXPECT_EQ(D().m_bPortOpen, 0);
  EXPECT_FALSE(D().LampLit());
  EXPECT_EQ(D().PortButton()->text(), "Turn on Port");
  EXPECT_TRUE(D().m_serial.HasPort()) << "opened, but shown closed and not monitored";
  EXPECT_FALSE(D().m_serial.MonitorRunning());

  D().PortList()->setCurrentIndex(20);
  emit D().PortList()->activated(20);
  EXPECT_EQ(m_dialogs->messages, QStringList{"Can not find this port or used by other application"});
  EXPECT_FALSE(D().LampLit());
}

TEST_F(WithSimulator, AFailedPickWhileOpenShowsThePortClosed) {
  Start({.com = 5});
  D().m_nPort = 5;
  D().PortButton()->click();
  ASSERT_EQ(D().m_bPortOpen, 1);
  D().PortList()->setCurrentIndex(20);
  emit D().PortList()->activated(20);
  EXPECT_FALSE(D().m_serial.HasPort());
  EXPECT_EQ(D().m_bPortOpen, 0) << "pages must not think they can send";
  EXPECT_EQ(D().PortButton()->text(), "Turn on Port");
  EXPECT_FALSE(D().LampLit());
  D().SettingsPage()->EnhancementGroup()->button(2)->click();
  test::Pump(20ms);
  // Whether the open's probe left before the pick closed the port is the
  // line's affair; the click sent nothing.
  for (const std::string& command : m_sim->Commands()) EXPECT_EQ(command, "GET STA");
}

TEST_F(WithSimulator, EveryCatalogueCommandArrivesByteForByte) {
  Start({.com = 3});
  D().m_nPort = 3;
  D().PortButton()->click();
  ASSERT_EQ(D().m_bPortOpen, 1);
  ASSERT_TRUE(test::WaitUntil([&] { return D().m_serial.MonitorRunning(); }));
  std::array<std::uint8_t, 256> edid{};
  edid.fill(0xA5);
  const std::vector<std::vector<std::uint8_t>> commands{
      Bytes(protocol::ProbeCommand()),         Bytes(protocol::EnhancementCommand(3)),
      Bytes(protocol::ScalerCommand(1)),       Bytes(protocol::PresetCommand(12)),
      Bytes(protocol::InputEdidReadCommand(9)), Bytes(protocol::OutputEdidReadCommand()),
      Bytes(protocol::UserEdidWriteCommand(edid)),
  };
  // The open's own question first.
  std::vector<std::uint8_t> expected = Bytes(protocol::ProbeCommand());
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Received(3).size() == expected.size(); }));
  for (const auto& c : commands) {
    ASSERT_TRUE(D().m_serial.QueueWrite(c));
    expected.insert(expected.end(), c.begin(), c.end());
    ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Received(3).size() == expected.size(); }));
  }
  EXPECT_EQ(m_sim->Received(3), expected);
}

TEST_F(WithSimulator, PageClicksSendTheirCommandsAndTheDeviceAnswerComesBack) {
  Start({.com = 1});
  D().PortButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() == 1; }));  // the open's probe
  auto* settings = D().SettingsPage();
  // One request at a time: each goes out before the next click.
  settings->EnhancementGroup()->button(2)->click();
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() == 2; }));
  settings->ScalerGroup()->button(3)->click();
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() == 3; }));
  D().EdidPage()->PresetGroup()->button(13)->click();
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() == 4; }));
  EXPECT_EQ(m_sim->Commands(),
            (std::vector<std::string>{"GET STA", "SET OUT1 IMAGE ENH 2", "SET OUT1 VIDEO4", "SET IN1 EDID 13"}));
  m_sim->WithDevice([](sim::CDevice& d) {
    EXPECT_EQ(d.Enhancement(), 2);
    EXPECT_EQ(d.Scaler(), 4);
    EXPECT_EQ(d.Preset(), 13);
  });
}

// The device at Strong / HDBT C mode, preset 11: what the pages show after
// each way of opening, before and after the device has answered.
TEST_F(WithSimulator, ThePagesShowTheDeviceAsItIsAfterEveryOpen) {
  Start({.com = 2, .silent = {3}});
  m_sim->WithDevice([](sim::CDevice& d) {
    for (const char* command : {"\r\nSET OUT1 IMAGE ENH 3\r\n", "\r\nSET OUT1 VIDEO4\r\n", "\r\nSET IN1 EDID 11\r\n"}) {
      d.Receive({reinterpret_cast<const std::uint8_t*>(command), std::strlen(command)});
    }
  });
  auto shown = [&] {
    return std::tuple(res::CheckedIndex(*D().SettingsPage()->EnhancementGroup()),
                      res::CheckedIndex(*D().SettingsPage()->ScalerGroup()),
                      res::CheckedIndex(*D().EdidPage()->PresetGroup()));
  };
  auto lit = [&] {
    int count = 0;
    for (QLabel* lamp : D().EdidPage()->Lamps()) count += res::LampLit(lamp) ? 1 : 0;
    for (QLabel* lamp : {D().SettingsPage()->m_lampEnhHigh, D().SettingsPage()->m_lampEnhLow,
                         D().SettingsPage()->m_lampScalerHigh, D().SettingsPage()->m_lampScalerLow}) {
      count += res::LampLit(lamp) ? 1 : 0;
    }
    return count;
  };
  const struct {
    const char* way;
    std::function<void()> open;
  } ways[] = {
      {"the button", [&] {
         D().m_nPort = 2;
         D().PortButton()->click();
       }},
      {"the port list", [&] {
         D().PortList()->setCurrentIndex(1);
         emit D().PortList()->activated(1);
       }},
      {"the search's end", [&] { D().SearchButton()->click(); }},
  };
  for (const auto& w : ways) {
    SCOPED_TRACE(w.way);
    m_dlg = std::make_unique<CConsoleDlg>();
    // Something a last port said: it is not this device's.
    D().SettingsPage()->SetEnhancementStatus(1);
    D().EdidPage()->SetEdidStatus(2);
    const std::size_t before = m_sim->Received(2).size();
    w.open();
    EXPECT_EQ(shown(), std::tuple(-1, -1, -1)) << "nothing is shown as the device's before it answers";
    EXPECT_EQ(lit(), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return shown() == std::tuple(3, 3, 11); })) << "then what it said";
    EXPECT_EQ(lit(), 2 + 2 + 3);  // 11 11 and 1011
    const auto received = m_sim->Received(2);
    EXPECT_EQ(std::vector<std::uint8_t>(received.begin() + static_cast<long>(before), received.end()),
              Bytes(protocol::ProbeCommand()))
        << "asked once, with the search's probe";
    EXPECT_EQ(D().m_bPortOpen, 1);
    EXPECT_TRUE(D().PortNote()->text().isEmpty());
  }
  // A port whose device never answers: said beneath the port row, and it stays open.
  D().PortButton()->click();
  D().PortList()->setCurrentIndex(2);
  emit D().PortList()->activated(2);
  ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Received(3) == Bytes(protocol::ProbeCommand()); }, 10000ms))
      << "asked, as every open asks";
  ASSERT_TRUE(D().TimerRunning(ID_TIMER_STATE));
  EXPECT_EQ(D().TimerPeriod(ID_TIMER_STATE), 500);
  D().OnTimer(ID_TIMER_STATE);  // its window ran out
  EXPECT_EQ(D().PortNote()->text(), "No answer from the device on COM3.");
  EXPECT_EQ(D().m_bPortOpen, 1);
  EXPECT_TRUE(m_dialogs->messages.isEmpty()) << "no modal box";
  EXPECT_EQ(shown(), std::tuple(-1, -1, -1));

  // Closed, a keyboard choice (Space) sends nothing and shows nothing as done.
  D().PortButton()->click();
  ASSERT_EQ(D().m_bPortOpen, 0);
  const std::size_t before = m_sim->Received(3).size();
  D().show();
  QRadioButton* strong = qobject_cast<QRadioButton*>(D().SettingsPage()->EnhancementGroup()->button(3));
  strong->setFocus();
  QTest::keyClick(strong, Qt::Key_Space);
  EXPECT_EQ(res::CheckedIndex(*D().SettingsPage()->EnhancementGroup()), -1);
  EXPECT_EQ(lit(), 0);
  EXPECT_EQ(D().PortNote()->text(), "The port is closed: nothing was sent.");
  test::Pump(50ms);
  EXPECT_EQ(m_sim->Received(3).size(), before);
}

TEST_F(WithSimulator, TheTrafficLogIsOptInAndTellsEachCommandAndLine) {
  Start({.com = 1});
  D().PortButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return D().EdidPage()->m_nReported == 7; })) << "the open's answer is in";
  for (const char* trace : {"", "1"}) {
    test::CScopedEnv env("VANTORQ_TRACE", trace);
    ::testing::internal::CaptureStderr();
    const auto before = m_sim->Commands().size();
    D().EdidPage()->PresetGroup()->button(13)->click();
    ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() > before && D().EdidPage()->m_nPreset == 13; }));
    test::Pump(10ms);
    D().EdidPage()->SetEdidStatus(-1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (*trace == '\0') {
      // (Qt may have its own word to say on standard error; the log says none.)
      EXPECT_EQ(err.find(" COM1 "), std::string::npos) << "off unless asked for: " << err;
      continue;
    }
    EXPECT_NE(err.find(" COM1 -> \"\\r\\nSET IN1 EDID 13\\r\\n\"  0d 0a 53 45 54 20 49 4e 31 20 45 44 49 44 20 31 33 0d 0a\n"),
              std::string::npos) << err;
    EXPECT_NE(err.find(" COM1 <- \"IN1 EDID 13\\r\\n\"  49 4e 31"), std::string::npos) << err;
    EXPECT_EQ(err.rfind("vantorq: ", 0), 0u);
  }
  EXPECT_TRUE(m_dialogs->messages.isEmpty()) << "the window shows none of it";
}

class StatusLines : public ::testing::Test {
 protected:
  void Feed(std::string_view bytes, unsigned port = 5) {
    for (char c : bytes) d.OnSerialByte(static_cast<std::uint8_t>(c), port);
  }
  test::CDialogRecorder dialogs;
  CConsoleDlg d;
};

TEST_F(StatusLines, ReachThePagesAndNeverSendAnything) {
  Feed("IN1 EDID 13\r\n");
  EXPECT_EQ(d.EdidPage()->m_nPreset, 13);
  Feed("OUT1 VIDEO 3\r\n");
  EXPECT_EQ(d.SettingsPage()->m_nScalerMode, 2);
  Feed("OUT1 IMAGE ENH 1\r\n");
  EXPECT_EQ(d.SettingsPage()->m_nEnhancement, 1);
  Feed("xEDID 7\n");  // one digit and LF, from a device that sends no CR
  EXPECT_EQ(d.EdidPage()->m_nPreset, 7);
  EXPECT_EQ(res::CheckedIndex(*d.EdidPage()->PresetGroup()), 7);
  Feed("xEDID 1?\r\nOUT1 VIDEO x\r\nOUT1 IMAGE ENH \x01\r\n");  // noise where the digits belong
  EXPECT_EQ(d.EdidPage()->m_nPreset, 7) << "the page keeps its state";
  EXPECT_EQ(res::CheckedIndex(*d.EdidPage()->PresetGroup()), 7);
  EXPECT_EQ(d.SettingsPage()->m_nScalerMode, 2);
  EXPECT_EQ(d.SettingsPage()->m_nEnhancement, 1);
  EXPECT_EQ(d.Search().m_bSearching, 0);
  EXPECT_EQ(d.m_bPortOpen, 0) << "no search was pending: only the page changed";
  EXPECT_FALSE(d.LampLit());
}

}  // namespace
}  // namespace vantorq
