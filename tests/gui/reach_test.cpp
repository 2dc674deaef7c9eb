// The window without a mouse or without sight: what a screen reader is told
// of every control through QAccessible, and the keys that move between
// the pages and open About.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWheelEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <map>

#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "EdidPage.h"
#include "SettingsPage.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

QString Said(QWidget* w, QAccessible::Text what = QAccessible::Name) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
  return face != nullptr ? face->text(what) : QStringLiteral("(none)");
}

class Reach : public ::testing::Test {
 protected:
  test::CPortLines m_lines;
  test::CDialogRecorder m_dialogs;
  CConsoleDlg m_window;
};

TEST_F(Reach, EveryControlIsNamedAndLampsSayWhatTheyShow) {
  // Every control of the three forms has a name a screen reader can say.
  for (QWidget* host : {static_cast<QWidget*>(&m_window), static_cast<QWidget*>(m_window.SettingsPage()),
                        static_cast<QWidget*>(m_window.EdidPage())}) {
    for (QWidget* w : host->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      const int id = w->property("controlId").toInt();
      if (w->property("controlId").isNull() || id == res::kNoId) continue;
      EXPECT_FALSE(Said(w).trimmed().isEmpty()) << "control " << id;
    }
  }
  EXPECT_EQ(Said(m_window.PortLamp()), "port closed");
  EXPECT_FALSE(Said(m_window.PortLamp(), QAccessible::Description).isEmpty());
  // On Linux a list's name is its current item; what it is comes from its label.
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_window.PortList());
  const auto labels = list->relations(QAccessible::Label);
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels.front().first->text(QAccessible::Name), "Comm:");
  EXPECT_FALSE(Said(m_window.PortList(), QAccessible::Description).isEmpty());
  EXPECT_EQ(Said(m_window.StatusLine()), "Search status");
  EXPECT_EQ(Said(m_window.EdidPage()->InfoBox()), "Basic EDID information");
  EXPECT_TRUE(Said(m_window.EdidPage()->InfoBox(), QAccessible::Description).contains("summary"));

  m_lines.Attach(1);
  m_window.PortButton()->click();
  ASSERT_EQ(m_window.m_bPortOpen, 1);
  EXPECT_EQ(Said(m_window.PortLamp()), "port open");

  m_window.EdidPage()->SetEdidStatus(5);  // 0101
  QStringList bits;
  for (QLabel* lamp : m_window.EdidPage()->Lamps()) bits << Said(lamp);
  EXPECT_EQ(bits, (QStringList{"preset bit 3: 0", "preset bit 2: 1", "preset bit 1: 0", "preset bit 0: 1"}));
  m_window.SettingsPage()->SetEnhancementStatus(2);  // 1 0
  const auto* settings = m_window.SettingsPage();
  EXPECT_EQ(Said(settings->findChild<QLabel*>("ctl1008")), "enhancement bit 1: 1");
  EXPECT_EQ(Said(settings->findChild<QLabel*>("ctl1315")), "enhancement bit 0: 0");
}

TEST_F(Reach, KeysSwitchTabsAndOpenAboutWithoutNewTabStops) {
  std::map<QWidget*, Qt::FocusPolicy> before;
  for (QWidget* w : m_window.findChildren<QWidget*>()) before[w] = w->focusPolicy();
  m_window.show();
  m_window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int tab;
  } presses[] = {
      {Qt::Key_Tab, Qt::ControlModifier, 1},
      {Qt::Key_Tab, Qt::ControlModifier, 0},  // wraps
      {Qt::Key_PageDown, Qt::ControlModifier, 1},
      {Qt::Key_PageUp, Qt::ControlModifier, 0},
      {Qt::Key_PageUp, Qt::ControlModifier, 1},  // wraps
      {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 0},
  };
  for (const auto& p : presses) {
    QTest::keyClick(&m_window, p.key, p.modifiers);
    EXPECT_EQ(m_window.Tab()->GetCurSel(), p.tab) << p.key;
    EXPECT_EQ(m_window.EdidPage()->isVisible(), p.tab == 1);
  }
  QString opened;
  QTimer::singleShot(0, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      opened = box->windowTitle();
      box->close();
    }
  });
  QTest::keyClick(&m_window, Qt::Key_F1);
  EXPECT_EQ(opened, "About 8X8 Matrix controller");
  for (const auto& [w, policy] : before) EXPECT_EQ(w->focusPolicy(), policy) << w->objectName().toStdString();
}

TEST_F(Reach, EveryControlIsReachedByTabAndEachRadioGroupIsOneStop) {
  auto& line = m_lines.Attach(1);
  m_window.PortButton()->click();
  const std::string probe = "\r\nGET STA\r\n";
  EXPECT_EQ(line.Receive(std::chrono::milliseconds(2000)), std::vector<std::uint8_t>(probe.begin(), probe.end()))
      << "the open asks the device's state";
  m_window.show();
  m_window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
  auto walk = [&] {
    QStringList stops;
    m_window.PortButton()->setFocus();
    for (int i = 0; i < 12; ++i) {
      QWidget* f = QApplication::focusWidget();
      stops << f->objectName() + (qobject_cast<QRadioButton*>(f) != nullptr ? " in " + Said(f->parentWidget()) : QString());
      QTest::keyClick(f, Qt::Key_Tab);
      if (QApplication::focusWidget() == m_window.PortButton()) break;
    }
    return stops;
  };
  EXPECT_EQ(walk(), (QStringList{"ctl1006", "ctl1106", "ctl1107", "", "ctl1307 in 2K->4K Video Enhancement",
                                 "ctl1311 in Scaler setting"}));
  m_window.Tab()->SetCurSel(1);
  EXPECT_EQ(walk(), (QStringList{"ctl1006", "ctl1106", "ctl1107", "", "ctl1320 in EDID preset of input 1", "ctl1097",
                                 "ctl1096", "ctl1336 in Port to read the EDID from"}));
  // Inside a group the arrows move and choose nothing (every choice acts on
  // the device); Space chooses, and sends what a click sends.
  m_window.Tab()->SetCurSel(0);
  const struct {
    const char* first;
    std::vector<Qt::Key> arrows;
    const char* lands;
    std::string command;
  } groups[] = {
      {"ctl1307", {Qt::Key_Down, Qt::Key_Down}, "ctl1309", "\r\nSET OUT1 IMAGE ENH 2\r\n"},
      {"ctl1311", {Qt::Key_Up, Qt::Key_Right}, "ctl1311", "\r\nSET OUT1 VIDEO1\r\n"},  // wraps round and back
      {"ctl1311", {Qt::Key_Up}, "ctl1314", "\r\nSET OUT1 VIDEO4\r\n"},
  };
  for (const auto& g : groups) {
    QWidget* first = m_window.SettingsPage()->findChild<QWidget*>(g.first);
    first->setFocus();
    for (Qt::Key key : g.arrows) QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), g.lands);
    EXPECT_TRUE(line.Receive(std::chrono::milliseconds(30)).empty()) << "an arrow sent a command";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(line.Receive(std::chrono::milliseconds(2000)), std::vector<std::uint8_t>(g.command.begin(), g.command.end()));
  }
}

TEST_F(Reach, ThePortListActsOnAConfirmedChoiceNotOnEveryArrow) {
  m_lines.Attach(2);
  m_window.show();
  m_window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
  QComboBox* list = m_window.PortList();
  list->setFocus();
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_C}) {
    QTest::keyClick(list, key);
    EXPECT_TRUE(list->view()->isVisible()) << "the key opens the list";
    EXPECT_EQ(list->currentIndex(), 0) << "and chooses nothing";
    list->hidePopup();
  }
  QWheelEvent wheel(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(list, &wheel);
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_EQ(m_window.m_bPortOpen, 0);
  EXPECT_TRUE(m_dialogs->messages.isEmpty()) << "no port was tried";
  // In the opened list the arrows move; Enter chooses.
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list->view(), Qt::Key_Down);
  QTest::keyClick(list->view(), Qt::Key_Return);
  EXPECT_EQ(m_window.m_nPort, 2);
  EXPECT_EQ(m_window.m_bPortOpen, 1);
  EXPECT_EQ(list->currentIndex(), 1);
}

}  // namespace
}  // namespace vantorq

namespace vantorq {
namespace {

// Two USB adapters and a missing port, from a sysfs tree and udev's by-id
// links made for the test.
TEST(PortTooltips, TellUsbAdaptersApartAndMissingPortsAsSuch) {
  test::CWorkFolder work;
  const std::string root = work.Path();
  namespace fs = std::filesystem;
  struct Adapter {
    const char* tty;
    const char* usb;
    const char* maker;
    const char* product;
    const char* serial;
    const char* vid;
    const char* pid;
    const char* byId;
  };
  const Adapter adapters[] = {
      {"ttyUSB0", "1-2", "FTDI", "FT232R USB UART", "A10K3XYZ", "0403", "6001", "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"},
      {"ttyUSB1", "1-3", "Prolific Technology Inc.", "USB-Serial Controller", "", "067b", "2303", "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"},
  };
  fs::create_directories(root + "/dev/serial/by-id");
  test::CPortLines lines;
  unsigned com = 33;
  for (const Adapter& a : adapters) {
    const std::string usb = root + "/sys/devices/pci0000:00/usb1/" + a.usb;
    fs::create_directories(usb + "/" + a.usb + ":1.0/" + a.tty);
    for (const auto& [file, value] : std::map<std::string, std::string>{
             {"manufacturer", a.maker}, {"product", a.product}, {"idVendor", a.vid}, {"idProduct", a.pid}}) {
      ASSERT_TRUE(test::WriteFile(usb + "/" + file, value + "\n"));
    }
    if (*a.serial != '\0') {
      ASSERT_TRUE(test::WriteFile(usb + "/serial", std::string(a.serial) + "\n"));
    }
    fs::create_directories(root + "/sys/class/tty/" + a.tty);
    fs::create_directory_symlink(usb + "/" + a.usb + ":1.0/" + a.tty, root + "/sys/class/tty/" + a.tty + "/device");
    ASSERT_TRUE(test::WriteFile(root + "/dev/" + a.tty, ""));
    fs::create_symlink(std::string("../../") + a.tty, root + "/dev/serial/by-id/" + a.byId);
    fs::create_symlink(root + "/dev/" + a.tty, lines.LinkPath(com++));
  }
  test::CScopedEnv sys("VANTORQ_SYS_ROOT", root + "/sys");
  test::CScopedEnv dev("VANTORQ_DEV_ROOT", root + "/dev");
  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  window.PortList()->showPopup();  // read when the list opens
  window.PortList()->hidePopup();
  auto tip = [&](int com) { return window.PortList()->itemData(com - 1, Qt::ToolTipRole).toString().toStdString(); };
  EXPECT_EQ(tip(33), lines.LinkPath(33) + "\n\u2192 " + root + "/dev/ttyUSB0\nUSB adapter: FTDI FT232R USB UART\n"
                         "serial number A10K3XYZ\nVID:PID 0403:6001\n" + root + "/dev/serial/by-id/" + adapters[0].byId);
  EXPECT_EQ(tip(34), lines.LinkPath(34) + "\n\u2192 " + root + "/dev/ttyUSB1\nUSB adapter: Prolific Technology Inc. "
                         "USB-Serial Controller\nVID:PID 067b:2303\n" + root + "/dev/serial/by-id/" + adapters[1].byId);
  EXPECT_EQ(tip(35), lines.LinkPath(35) + "\nnot present");
  EXPECT_EQ(window.PortList()->itemText(32), "COM33") << "the items keep their names";
}

}  // namespace
}  // namespace vantorq
