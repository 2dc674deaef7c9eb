// The "Settings" page: each button's command as the device receives it, the
// two-bit lamps, and status lines from the device.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>

#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "SettingsPage.h"
#include "Simulator.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

class SettingsPageTest : public ::testing::Test {
 protected:
  CSettingsPage& Page() { return *d->SettingsPage(); }
  // The lamps as the form numbers them, found by their ids: the page's own
  // members could be swapped and still agree with each other.
  bool Lit(int id) { return res::LampLit(Page().findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))); }
  std::pair<bool, bool> EnhLamps() { return {Lit(1008), Lit(1315)}; }
  std::pair<bool, bool> ScalerLamps() { return {Lit(1010), Lit(1009)}; }
  void Feed(std::string_view bytes) {
    for (char c : bytes) d->OnSerialByte(static_cast<std::uint8_t>(c), 1);
  }
  void StartDevice() {
    device = std::make_unique<test::CSimulatedDevice>(sim::SimOptions{.com = 1});
    ASSERT_TRUE(device->Started()) << device->Error();
    sim = &**device;
    d = std::make_unique<CConsoleDlg>();
    d->PortButton()->click();
    ASSERT_TRUE(test::WaitUntil([&] { return d->m_serial.MonitorRunning(); }));
  }
  void TearDown() override {
    d.reset();
    device.reset();
  }

  test::CDialogRecorder dialogs;
  std::unique_ptr<test::CSimulatedDevice> device;
  sim::CSimulator* sim = nullptr;
  std::unique_ptr<CConsoleDlg> d = std::make_unique<CConsoleDlg>();
};

TEST_F(SettingsPageTest, StartsOnOffAndBypassWithDarkLamps) {
  EXPECT_EQ(res::CheckedIndex(*Page().EnhancementGroup()), 0);
  EXPECT_EQ(res::CheckedIndex(*Page().ScalerGroup()), 0);
  EXPECT_EQ(EnhLamps(), std::pair(false, false));
  EXPECT_EQ(ScalerLamps(), std::pair(false, false));
  const QStringList enh{"Off", "Weak", "Medium", "Strong"};
  const QStringList scaler{"BYPASS", "4K->2K", "2K->4K", "HDBT C mode"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Page().EnhancementGroup()->button(i)->text(), enh[i]);
    EXPECT_EQ(Page().ScalerGroup()->button(i)->text(), scaler[i]);
  }
}

TEST_F(SettingsPageTest, EachButtonSendsItsBytesAndShowsItsCode) {
  StartDevice();
  const struct {
    bool scaler;
    int index;
    const char* bytes;
    std::pair<bool, bool> lamps;
  } cases[] = {
      {false, 0, "\r\nSET OUT1 IMAGE ENH 0\r\n", {false, false}},
      {false, 1, "\r\nSET OUT1 IMAGE ENH 1\r\n", {false, true}},
      {false, 2, "\r\nSET OUT1 IMAGE ENH 2\r\n", {true, false}},
      {false, 3, "\r\nSET OUT1 IMAGE ENH 3\r\n", {true, true}},
      {false, 3, "\r\nSET OUT1 IMAGE ENH 3\r\n", {true, true}},  // again: sent again
      {true, 0, "\r\nSET OUT1 VIDEO1\r\n", {false, false}},
      {true, 1, "\r\nSET OUT1 VIDEO2\r\n", {false, true}},
      {true, 2, "\r\nSET OUT1 VIDEO3\r\n", {true, false}},
      {true, 3, "\r\nSET OUT1 VIDEO4\r\n", {true, true}},
  };
  // The open asked the device's state first.
  std::string expected = "\r\nGET STA\r\n";
  ASSERT_TRUE(test::WaitUntil([&] { return Page().m_nReportedScaler == 0 && Page().m_nReportedEnhancement == 0; }));
  for (const auto& c : cases) {
    QButtonGroup* group = c.scaler ? Page().ScalerGroup() : Page().EnhancementGroup();
    group->button(c.index)->click();
    EXPECT_EQ(c.scaler ? ScalerLamps() : EnhLamps(), c.lamps) << c.bytes;
    EXPECT_EQ(res::CheckedIndex(*group), c.index);
    expected += c.bytes;
    ASSERT_TRUE(test::WaitUntil([&] { return sim->Received(1).size() == expected.size(); })) << c.bytes;
    const auto got = sim->Received(1);
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);
  }
  EXPECT_EQ(std::string(cases[0].bytes).size(), 24u);
  EXPECT_EQ(std::string(cases[5].bytes).size(), 19u);

  // Closed: nothing is sent, and nothing is shown as done; the device's
  // last reported level stays chosen, and the window says why.
  ASSERT_TRUE(test::WaitUntil([&] { return Page().m_nReportedScaler == 3 && Page().m_nReportedEnhancement == 3; }));
  d->PortButton()->click();
  Page().EnhancementGroup()->button(1)->click();
  EXPECT_EQ(EnhLamps(), std::pair(true, true));
  EXPECT_EQ(res::CheckedIndex(*Page().EnhancementGroup()), 3);
  EXPECT_EQ(d->PortNote()->text(), "The port is closed: nothing was sent.");
  test::Pump(100ms);
  EXPECT_EQ(sim->Received(1).size(), expected.size());
}

TEST_F(SettingsPageTest, StatusLinesFollowTheDeviceAndSendNothing) {
  const struct {
    const char* line;
    int enh;  // expected checked index, -1 none
    int scaler;
    std::pair<bool, bool> enhLamps;
    std::pair<bool, bool> scalerLamps;
  } cases[] = {
      {"OUT1 IMAGE ENH 2\r\n", 2, 0, {true, false}, {false, false}},
      {"OUT1 VIDEO 3\r\n", 2, 2, {true, false}, {true, false}},  // one group leaves the other alone
      {"OUT1 VIDEO 1\r\n", 2, 0, {true, false}, {false, false}},
      {"OUT1 VIDEO 0\r\n", 2, -1, {true, false}, {true, true}},  // index -1: both lit, none selected
      {"OUT1 IMAGE ENH 7\r\n", -1, -1, {true, true}, {true, true}},
      {"OUT1 IMAGE ENH 1\r\n", 1, -1, {false, true}, {true, true}},
  };
  for (const auto& c : cases) {
    Feed(c.line);
    EXPECT_EQ(res::CheckedIndex(*Page().EnhancementGroup()), c.enh) << c.line;
    EXPECT_EQ(res::CheckedIndex(*Page().ScalerGroup()), c.scaler) << c.line;
    EXPECT_EQ(EnhLamps(), c.enhLamps) << c.line;
    EXPECT_EQ(ScalerLamps(), c.scalerLamps) << c.line;
  }
  EXPECT_EQ(Page().m_nScalerMode, -1);
  // With no port open a click chooses nothing: the device's last report stands.
  Page().ScalerGroup()->button(1)->click();
  EXPECT_EQ(Page().m_nScalerMode, -1);
  EXPECT_EQ(ScalerLamps(), std::pair(true, true));
}

TEST_F(SettingsPageTest, Screenshot) {
  Feed("OUT1 IMAGE ENH 2\r\n");
  Feed("OUT1 VIDEO 4\r\n");
  d->show();
  const QImage shot = d->grab().toImage();
  EXPECT_FALSE(shot.isNull());
  const QString dir = qEnvironmentVariable("VANTORQ_SHOTS");
  if (!dir.isEmpty()) shot.save(dir + "/settings.png");
}

}  // namespace
}  // namespace vantorq
