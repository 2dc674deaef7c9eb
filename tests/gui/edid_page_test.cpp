// The "EDID Management" page: presets and lamps, the read-back into numbered
// files and the user-EDID write, against the simulated device.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <fstream>

#include "Commands.h"
#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "EdidDetailsDlg.h"
#include "EdidPage.h"
#include "EdidSummary.h"
#include "LineDouble.h"
#include "Simulator.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<std::streamsize>(bytes.size()));
}

class EdidPageTest : public ::testing::Test {
 protected:
  void StartDevice() {
    m_device = std::make_unique<test::CSimulatedDevice>(sim::SimOptions{.com = 1});
    ASSERT_TRUE(m_device->Started()) << m_device->Error();
    m_sim = &**m_device;
  }
  void OpenPort() {
    D().PortButton()->click();
    ASSERT_EQ(D().m_bPortOpen, 1);
    ASSERT_TRUE(test::WaitUntil([&] { return D().m_serial.MonitorRunning(); }));
    // The open asks the device's state; a simulated device has answered
    // before the test goes on.
    if (m_sim != nullptr) {
      ASSERT_TRUE(test::WaitUntil([&] { return Page().m_nReported == 7; }));
    }
  }
  // The probe the open sends.
  static std::vector<std::uint8_t> Probe() {
    const auto probe = protocol::ProbeCommand();
    return {probe.begin(), probe.end()};
  }
  void TearDown() override {
    m_dlg.reset();
    m_device.reset();
  }
  CConsoleDlg& D() {
    if (!m_dlg) m_dlg = std::make_unique<CConsoleDlg>();
    return *m_dlg;
  }
  CEdidPage& Page() { return *D().EdidPage(); }
  void ChoosePort(int index) { Page().PortGroup()->button(index)->click(); }
  void ClickPreset(int index) { Page().PresetGroup()->button(index)->click(); }
  // Left to right, bits 3 to 0, found by the ids the form gives them (not
  // through the page's own list, which could be wrong and agree with itself).
  std::vector<bool> Lamps() {
    std::vector<bool> lit;
    for (int id : {1318, 1317, 1316, 1319}) {
      lit.push_back(res::LampLit(Page().findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))));
    }
    return lit;
  }
  void Feed(std::string_view bytes) {
    for (char c : bytes) D().OnSerialByte(static_cast<std::uint8_t>(c), 1);
  }
  bool SawMessage(const QString& text) {
    return test::WaitUntil([&] { return m_dialogs->messages.contains(text); }, 5000ms);
  }

  test::CWorkFolder m_work;
  test::CDialogRecorder m_dialogs;
  std::unique_ptr<test::CSimulatedDevice> m_device;
  sim::CSimulator* m_sim = nullptr;
  std::unique_ptr<CConsoleDlg> m_dlg;
};

TEST_F(EdidPageTest, StartsWithNothingSelectedAndAllLampsDark) {
  EXPECT_EQ(res::CheckedIndex(*Page().PresetGroup()), -1);
  EXPECT_EQ(res::CheckedIndex(*Page().PortGroup()), -1);
  EXPECT_EQ(Lamps(), std::vector<bool>(4, false));
  EXPECT_TRUE(Page().InfoBox()->toPlainText().isEmpty());
  EXPECT_FALSE(Page().InfoBox()->isEnabled());
  const QPalette palette = Page().InfoBox()->palette();
  EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::Text), palette.color(QPalette::Active, QPalette::Text))
      << "display only, but readable";
  const QStringList names{"EDID bypass", "1080P_2CH", "1080P_3D_2CH", "4K30Hz_3D_2CH", "4K30Hz_3D_6CH",
                          "4K60Hz_3D_2CH", "4K60Hz_3D_6CH", "4K60Hz_3D_8CH", "1080P_2CH_HDR",
                          "1080P_3D_2CH_HDR", "4K30Hz_3D_2CH_HDR", "4K30Hz_3D_6CH_HDR", "4K60Hz_3D_2CH_HDR",
                          "4K60Hz_3D_6CH_HDR", "4K60Hz_3D_8CH_HDR", "User_EDID"};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Page().PresetGroup()->button(i)->text(), names[i]);
  EXPECT_EQ(Page().PortGroup()->button(0)->text(), "Input port");
  EXPECT_EQ(Page().PortGroup()->button(1)->text(), "Output port");
}

TEST_F(EdidPageTest, PresetClicksLightTheLampsAndSendTheirCommand) {
  StartDevice();
  OpenPort();
  const struct {
    int preset;
    std::vector<bool> lamps;
  } cases[] = {
      {0, {false, false, false, false}}, {15, {true, true, true, true}}, {7, {false, true, true, true}},
      {13, {true, true, false, true}},   {8, {true, false, false, false}}, {7, {false, true, true, true}},
  };
  std::size_t sent = m_sim->Commands().size();
  for (const auto& c : cases) {
    ClickPreset(c.preset);
    EXPECT_EQ(Lamps(), c.lamps) << c.preset << " lights at once";
    ASSERT_TRUE(test::WaitUntil([&] { return m_sim->Commands().size() == sent + 1; }));
    char expected[32];
    std::snprintf(expected, sizeof expected, "SET IN1 EDID %02d", c.preset);
    EXPECT_EQ(m_sim->Commands().back(), expected);
    ++sent;
  }
  // Closed: nothing goes out, and nothing is shown as done: the device's
  // last reported preset stays chosen and lit, and the window says why.
  ASSERT_TRUE(test::WaitUntil([&] { return Page().m_nReported == 7; }));
  D().PortButton()->click();
  ClickPreset(2);
  EXPECT_EQ(Lamps(), (std::vector<bool>{false, true, true, true}));
  EXPECT_EQ(res::CheckedIndex(*Page().PresetGroup()), 7);
  EXPECT_EQ(D().PortNote()->text(), "The port is closed: nothing was sent.");
  test::Pump(100ms);
  EXPECT_EQ(m_sim->Commands().size(), sent);
}

TEST_F(EdidPageTest, StatusLinesSelectThePresetAndPutBackTheTakenPortChoice) {
  // A line that never answers: what the page shows is what is fed here.
  test::CPortLines lines;
  lines.Attach(1);
  D().PortButton()->click();
  const struct {
    const char* line;
    int selected;
    std::vector<bool> lamps;
  } cases[] = {
      {"IN1 EDID 00\r\n", 0, {false, false, false, false}},
      {"IN1 EDID 13\r\n", 13, {true, true, false, true}},
      {"IN1 EDID 16\r\n", -1, {false, false, false, false}},
      {"IN1 EDID 31\r\n", -1, {true, true, true, true}},
  };
  for (const auto& c : cases) {
    Feed(c.line);
    EXPECT_EQ(res::CheckedIndex(*Page().PresetGroup()), c.selected) << c.line;
    EXPECT_EQ(Lamps(), c.lamps) << c.line;
  }
  Page().UpdateData(true);
  EXPECT_EQ(Page().m_nPreset, -1) << "a number outside 0..15 is taken back as none";

  ClickPreset(3);      // takes the controls: port choice -1
  ChoosePort(1);       // clicking a port button alone changes no state
  Feed("IN1 EDID 05\r\n");
  EXPECT_EQ(res::CheckedIndex(*Page().PortGroup()), -1);
  ChoosePort(0);
  ClickPreset(4);      // taken: input port
  ChoosePort(1);
  Feed("IN1 EDID 04\r\n");
  EXPECT_EQ(res::CheckedIndex(*Page().PortGroup()), 0);
}

TEST_F(EdidPageTest, ReadingTheOutputPortSavesFile00AndShowsTheSummary) {
  StartDevice();
  OpenPort();
  ChoosePort(1);
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_out1_00.bin")) << m_dialogs->messages.join("|").toStdString();
  EXPECT_EQ(m_sim->Commands().back(), "GET OUT1 EDID  DATA");
  const auto read = protocol::OutputEdidReadCommand();
  std::vector<std::uint8_t> sent = Probe();
  sent.insert(sent.end(), read.begin(), read.end());
  EXPECT_EQ(m_sim->Received(1), sent);
  sim::Edid tv{};
  m_sim->WithDevice([&](sim::CDevice& d) { tv = d.OutputEdid(); });
  EXPECT_EQ(ReadFile("Matrix_EDID_out1_00.bin"), std::vector<std::uint8_t>(tv.begin(), tv.end()));
  EXPECT_EQ(D().Router().m_bReadBack, 0);
  EdidReport report;
  QString expected = QString::fromStdString(DecodeAndSummarise(report, tv));
  EXPECT_TRUE(expected.startsWith("Manufacture's Name:QTV\r\nMaximum Pixel Clock:600MHz\r\n3D video:support\r\n"
                                  "Preferred Timing:3840x2160@60Hz\r\n"))
      << expected.toStdString();
  EXPECT_EQ(Page().m_strBasicInfo, expected);
  EXPECT_EQ(Page().InfoBox()->toPlainText(), expected.replace("\r\n", "\n"));
  EXPECT_EQ(Page().InfoBox()->toolTip(), "EDID check: header, checksums and extension count are right");

  // The whole of it, a key away: the five answers, the file, the check.
  ASSERT_TRUE(Page().DetailsButton()->isEnabled());
  Page().DetailsButton()->click();
  ASSERT_NE(Page().DetailsWindow(), nullptr);
  EXPECT_TRUE(Page().DetailsWindow()->isVisible());
  const QStringList lines = Page().DetailsWindow()->Text().split('\n');
  ASSERT_GT(lines.size(), 10);
  EXPECT_TRUE(lines[0].startsWith("Highest mode: 4:4:4 4096x2160@60Hz")) << lines[0].toStdString();
  EXPECT_EQ(lines[6], "Saved to: " + QDir::current().absoluteFilePath("Matrix_EDID_out1_00.bin"));
  EXPECT_EQ(lines[7], "EDID check: header, checksums and extension count are right");
  EXPECT_TRUE(Page().DetailsWindow()->Text().contains("Manufacture's Name:QTV\n")) << "the console's report in it";

  // Bypass on the input port reads the output too, as file 01.
  ClickPreset(0);
  ChoosePort(0);
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_out1_01.bin"));
}

TEST_F(EdidPageTest, AReplyPacedAtTheLineRateArrivesWhole) {
  // Not fast: 790 bytes at 57600 baud take about 140 ms.
  sim::CSimulator paced({.com = 1});
  std::string error;
  ASSERT_TRUE(paced.StartThread(error)) << error;
  test::CScopedEnv env("VANTORQ_PORT_DIR", paced.PortDir());
  OpenPort();
  ChoosePort(1);
  const auto start = std::chrono::steady_clock::now();
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_out1_00.bin"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  sim::Edid tv{};
  paced.WithDevice([&](sim::CDevice& d) { tv = d.OutputEdid(); });
  EXPECT_EQ(ReadFile("Matrix_EDID_out1_00.bin"), std::vector<std::uint8_t>(tv.begin(), tv.end()));
  m_dlg.reset();
}

TEST_F(EdidPageTest, ReadingInputPreset7SendsItsCommandAndSavesAnInpFile) {
  StartDevice();
  OpenPort();
  ClickPreset(7);
  ChoosePort(0);
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_inp1_00.bin"));
  EXPECT_EQ(m_sim->Commands().back(), "GET IN1 EDID 07 DATA");
  sim::Edid edid{};
  m_sim->WithDevice([&](sim::CDevice& d) { edid = d.EdidOf(7); });
  EXPECT_EQ(ReadFile("Matrix_EDID_inp1_00.bin"), std::vector<std::uint8_t>(edid.begin(), edid.end()));
  EXPECT_TRUE(Page().m_strBasicInfo.contains("Audio Channel(s):8\r\n"));
}

TEST_F(EdidPageTest, NoPortChosenOrNoPresetIsSaidAndNothingIsAwaited) {
  Page().ReadButton()->click();
  EXPECT_EQ(m_dialogs->messages, QStringList{"Please select the target port first"});
  EXPECT_EQ(D().Router().m_bReadBack, 0);
  ChoosePort(0);  // input, but no preset selected
  Page().ReadButton()->click();
  EXPECT_EQ(m_dialogs->messages.last(), "Please select the EDID preset first");
  EXPECT_EQ(D().Router().m_bReadBack, 0);
  ChoosePort(1);  // port closed: nothing sent, but the reply is awaited
  Page().ReadButton()->click();
  EXPECT_EQ(D().Router().m_bReadBack, 1);
  EXPECT_EQ(D().m_strFilePattern, "Matrix_EDID_out1_%02d.bin");
}

std::string FullReply(std::uint8_t base, std::size_t pairs = 256) {
  std::string line = "OUT1 EDID DATA ";
  char buf[4];
  for (std::size_t i = 0; i < pairs; ++i) {
    std::snprintf(buf, sizeof buf, "%02x ", static_cast<std::uint8_t>(base + i));
    line += buf;
  }
  return line + "\r\n";
}

TEST_F(EdidPageTest, StatusLinesWaitWhileAReplyIsAwaitedAndACutReplyIsNotSaved) {
  ChoosePort(1);
  Page().ReadButton()->click();
  Feed("IN1 EDID 05\r\n");  // a status line while a reply is awaited
  EXPECT_EQ(D().Router().m_bReadBack, 1);
  EXPECT_EQ(Page().m_nPreset, -1) << "not applied";
  Page().m_strBasicInfo = "earlier\r\n";
  // The device stops after 95 pairs; its next status line completes the line.
  std::string cut = FullReply(0x10, 95);
  cut.resize(cut.size() - 2);
  Feed(cut + "IN1 EDID 07\r\n");
  EXPECT_EQ(D().Router().m_bReadBack, 0) << "the read-back ends as ever";
  ASSERT_FALSE(m_dialogs->messages.isEmpty());
  EXPECT_TRUE(m_dialogs->messages.last().startsWith("The EDID reply was cut short: ")) << m_dialogs->messages.last().toStdString();
  EXPECT_FALSE(fs::exists("Matrix_EDID_out1_00.bin"));
  EXPECT_EQ(Page().m_strBasicInfo, "earlier\r\n");
  // The next whole reply is saved as file 00; the box's tooltip tells what
  // is wrong with it.
  Page().ReadButton()->click();
  Feed(FullReply(0x10));
  EXPECT_EQ(m_dialogs->messages.last(), "Save to file: Matrix_EDID_out1_00.bin");
  EXPECT_TRUE(Page().InfoBox()->toolTip().startsWith("EDID check: header 10 11 12 13 14 15 16 17, should be 00 ff ff ff ff ff ff 00; block 0 checksum 0x8f, should be"))
      << Page().InfoBox()->toolTip().toStdString();
  EXPECT_EQ(D().m_readBackBuffer[255], static_cast<std::uint8_t>(0x10 + 255));
}

TEST_F(EdidPageTest, AReadAskedOfAClosedPortIsForgottenWhenAPortOpens) {
  StartDevice();
  ChoosePort(1);
  Page().ReadButton()->click();  // the port is closed: nothing goes out
  ASSERT_EQ(D().Router().m_bReadBack, 1);
  D().SearchButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return D().Search().m_bSearching == 0; }));
  EXPECT_EQ(D().m_bPortOpen, 1) << "the device's answer completes the search";
  EXPECT_TRUE(m_dialogs->messages.isEmpty()) << m_dialogs->messages.join("|").toStdString();
  ClickPreset(3);
  ASSERT_TRUE(test::WaitUntil([&] { return Page().m_nPreset == 3 && m_sim->Commands().back() == "SET IN1 EDID 03"; }));
}

// An EDID file's bytes: the header, then `fill`.
std::vector<std::uint8_t> EdidFileBytes(std::size_t size, std::uint8_t fill) {
  std::vector<std::uint8_t> bytes(size, fill);
  std::copy(kEdidHeader.begin(), kEdidHeader.end(), bytes.begin());
  return bytes;
}

const QString kUserEdidNote = QStringLiteral(
    "Note: EDID data is just saved to user define buffer. If want to use this EDID, need to set the EDID to "
    "User_EDID.");

TEST_F(EdidPageTest, LoadingFilesAndWritingTheUserEdid) {
  // The file rules themselves are tested on the file module; here, what
  // the page makes of them.
  StartDevice();
  OpenPort();
  const auto small = EdidFileBytes(128, 0x11);
  WriteFile("small.bin", small);
  WriteFile("upper.BIN", small);
  WriteFile("empty.bin", {});
  const QString dir = QDir::currentPath();
  m_dialogs->fileAnswers = {dir + "/small.bin", dir + "/upper.BIN", dir + "/missing.bin", dir + "/empty.bin"};
  EdidBuffer expected;
  expected.fill(0xFF);
  std::copy(small.begin(), small.end(), expected.begin());
  EXPECT_FALSE(Page().DetailsButton()->isEnabled()) << "nothing to show yet";
  Page().LoadButton()->click();
  EXPECT_EQ(m_dialogs->filters.last(), "bin file(*.bin)|*.bin|all file(*.*)|*.*||");
  // What is about to go into the unit, in full, before it has.
  ASSERT_TRUE(Page().DetailsButton()->isEnabled());
  Page().DetailsButton()->click();
  const QString details = Page().DetailsWindow()->Text();
  EXPECT_TRUE(details.contains("\nLoaded from: " + dir + "/small.bin\nEDID check: ")) << details.toStdString();
  ASSERT_TRUE(SawMessage(kUserEdidNote));
  EXPECT_EQ(m_dialogs->details.last(), "Verified: the unit holds the 256 bytes written.");
  // The write, then the read-back of preset 15 that proves it.
  const auto command = protocol::UserEdidWriteCommand(expected);
  const auto readBack = protocol::InputEdidReadCommand(15);
  std::vector<std::uint8_t> both = Probe();
  both.insert(both.end(), command.begin(), command.end());
  both.insert(both.end(), readBack.begin(), readBack.end());
  EXPECT_EQ(m_sim->Received(1), both);
  EXPECT_FALSE(fs::exists("Matrix_EDID_inp1_00.bin")) << "the proof is no read-back of the operator's: no file";

  const int before = static_cast<int>(m_dialogs->messages.size());
  for (int i = 0; i < 4; ++i) Page().LoadButton()->click();  // the last is cancelled: nothing at all
  EXPECT_EQ(m_dialogs->messages.mid(before),
            (QStringList{"It is not bin file", "File read failed", "It is not an EDID file: nothing was sent to the device."}));
  EXPECT_EQ(m_dialogs->details.last(), "empty.bin is empty.");
  test::Pump(50ms);
  EXPECT_EQ(m_sim->Received(1).size(), both.size());
}

TEST_F(EdidPageTest, AUnitThatDoesNotKeepTheUserEdidIsNeverReportedAsDone) {
  StartDevice();
  OpenPort();
  auto mine = EdidFileBytes(256, 0x7F);
  WriteFile("mine.bin", mine);
  const struct {
    const char* name;
    std::function<void(sim::CDevice&)> fault;
    QString message;
  } cases[] = {
      {"not stored", [](sim::CDevice& d) { d.SetUserEdidFault(sim::UserEdidFault::Dropped); },
       "The unit does not hold the EDID that was written: byte 8 reads "},
      {"one byte changed", [](sim::CDevice& d) { d.SetUserEdidFault(sim::UserEdidFault::OneByteChanged); },
       "The unit does not hold the EDID that was written: byte 131 reads 00 where 7f was written."},
      {"a garbled read-back", [](sim::CDevice& d) { d.GarbleReplies(true); },
       "The EDID reply was garbled on the line: byte 131 of 256 was split by a stray character. The write could not "
       "be verified."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_sim->WithDevice([&](sim::CDevice& d) {
      d.SetUserEdidFault(sim::UserEdidFault::None);
      d.GarbleReplies(false);
      c.fault(d);
    });
    m_dialogs->messages.clear();
    m_dialogs->fileAnswers = {QDir::currentPath() + "/mine.bin"};
    Page().LoadButton()->click();
    ASSERT_TRUE(test::WaitUntil([&] { return !m_dialogs->messages.isEmpty(); }, 5000ms));
    EXPECT_TRUE(m_dialogs->messages.first().startsWith(c.message)) << m_dialogs->messages.first().toStdString();
    EXPECT_FALSE(m_dialogs->messages.contains(kUserEdidNote));
  }
}

TEST_F(EdidPageTest, TheUserEdidNoteWaitsUntilTheUnitsCopyHasBeenReadBack) {
  // On a line double: the note may only follow the last byte on the wire
  // and the unit's copy read back.
  const auto mine = EdidFileBytes(256, 0x42);
  WriteFile("mine.bin", mine);
  const std::size_t probe = 11;  // the open's
  const std::size_t asked = probe + 790 + 24;
  const struct {
    const char* name;
    std::shared_ptr<IClock> clock;
    std::function<void(sim::CLineDouble&)> fault;
    bool closeDuringWrite;
    std::string reply;  // fed once the read-back was asked; empty: none
    QString message;
    QString detail;  // the start of it
    QString button;
    std::size_t wire;  // bytes on the wire when the box came
  } cases[] = {
      {"sent whole and kept", std::make_shared<CManualClock>(), [](sim::CLineDouble&) {}, false,
       test::EdidReply(mine, 256, "IN1 EDID 15"), kUserEdidNote, "Verified: the unit holds the 256 bytes written.",
       "Close Port", asked},
      {"sent whole, no answer", std::make_shared<CManualClock>(), [](sim::CLineDouble&) {}, false, "",
       "No EDID reply came within 642 ms. The write could not be verified.", "All 790 bytes left the line.",
       "Close Port", asked},
      {"flow control holds the line", std::make_shared<CManualClock>(), [](sim::CLineDouble& l) { l.StallWire(); },
       false, "", "The EDID was not written to the device.", "The line did not send it in time", "Open port", 0},
      {"the adapter is pulled", std::make_shared<CManualClock>(), [](sim::CLineDouble& l) { l.FailWriteAfter(100); },
       false, "", "The EDID was not written to the device.", "The port refused it part-way", "Open port", 111},
      {"the port is closed under it", SystemClock(), [](sim::CLineDouble& l) { l.StallWire(); }, true, "",
       "The EDID was not written to the device.", "The port was closed before it was sent whole", "Turn on Port", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<sim::CLineDouble>(c.clock);
    auto opener = std::make_shared<sim::CLineOpener>();
    opener->Add(1, line);
    m_dlg = std::make_unique<CConsoleDlg>(nullptr, opener, c.clock);
    OpenPort();
    ASSERT_TRUE(test::WaitUntil([&] { return line->Wire().size() == probe; })) << "the open's probe has left";
    c.fault(*line);
    m_dialogs->messages.clear();
    m_dialogs->details.clear();
    std::size_t wireAtMessage = 0;
    m_dialogs->onMessage = [&](const QString&) { wireAtMessage = line->Wire().size(); };
    m_dialogs->fileAnswers = {QDir::currentPath() + "/mine.bin"};
    Page().LoadButton()->click();
    EXPECT_TRUE(m_dialogs->messages.isEmpty()) << "nothing is said before the line has done its part";
    if (c.closeDuringWrite) {
      ASSERT_TRUE(test::WaitUntil([&] { return line->Queued() > 0; }));
      D().PortButton()->click();
    }
    if (c.wire == asked) {
      ASSERT_TRUE(test::WaitUntil([&] { return line->Wire().size() == asked && D().TimerRunning(ID_TIMER_VERIFY); }));
      test::Pump(20ms);
      EXPECT_TRUE(m_dialogs->messages.isEmpty()) << "nor before the unit's copy came back";
      if (c.reply.empty()) {
        D().OnTimer(ID_TIMER_VERIFY);  // the reply's time ran out
      } else {
        line->Feed(c.reply);
      }
    }
    ASSERT_TRUE(test::WaitUntil([&] { return !m_dialogs->messages.isEmpty(); }));
    EXPECT_EQ(m_dialogs->messages, QStringList{c.message});
    EXPECT_TRUE(m_dialogs->details.last().startsWith(c.detail)) << m_dialogs->details.last().toStdString();
    if (c.wire == asked) {
      EXPECT_EQ(wireAtMessage, asked);
    } else {
      EXPECT_LT(wireAtMessage, probe + 790);
    }
    EXPECT_FALSE(D().TimerRunning(ID_TIMER_VERIFY));
    // The port shows what it is: a failed line is closed as after a read failure.
    ASSERT_TRUE(test::WaitUntil([&] { return D().PortButton()->text() == c.button; }));
    EXPECT_EQ(D().LampLit(), c.button == "Close Port");
    m_dialogs->onMessage = nullptr;
    m_dlg.reset();
  }
}

TEST_F(EdidPageTest, WritingTheUserEdidWithThePortClosedSaysNothingWasSent) {
  WriteFile("mine.bin", EdidFileBytes(256, 0x42));
  m_dialogs->fileAnswers = {QDir::currentPath() + "/mine.bin"};
  Page().LoadButton()->click();
  EXPECT_EQ(m_dialogs->messages, QStringList{"The port is not open: the EDID was not sent to the device."});
  EXPECT_FALSE(m_dialogs->details.last().isEmpty());
}

TEST_F(EdidPageTest, ALoadedFileComesBackFromTheUserPresetByteForByte) {
  StartDevice();
  OpenPort();
  std::vector<std::uint8_t> mine = EdidFileBytes(256, 0);
  for (std::size_t i = kEdidHeader.size(); i < mine.size(); ++i) mine[i] = static_cast<std::uint8_t>(255 - i);
  WriteFile("mine.bin", mine);
  m_dialogs->fileAnswers = {QDir::currentPath() + "/mine.bin"};
  Page().LoadButton()->click();
  ASSERT_TRUE(SawMessage(kUserEdidNote));
  ClickPreset(15);
  ASSERT_TRUE(test::WaitUntil([&] { return !m_sim->Commands().empty() && m_sim->Commands().back() == "SET IN1 EDID 15"; }));
  ChoosePort(0);
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_inp1_00.bin"));
  EXPECT_EQ(ReadFile("Matrix_EDID_inp1_00.bin"), mine);
}

TEST_F(EdidPageTest, Screenshots) {
  StartDevice();
  OpenPort();
  D().Tab()->SetCurSel(1);
  D().show();
  const QString dir = qEnvironmentVariable("VANTORQ_SHOTS");
  const QImage before = D().grab().toImage();
  ClickPreset(7);
  ChoosePort(1);
  Page().ReadButton()->click();
  ASSERT_TRUE(SawMessage("Save to file: Matrix_EDID_out1_00.bin"));
  const QImage after = D().grab().toImage();
  EXPECT_NE(before, after);
  if (!dir.isEmpty()) {
    before.save(dir + "/edid-before.png");
    after.save(dir + "/edid-after.png");
  }
}

}  // namespace
}  // namespace vantorq
