// The device behind a serial-to-Ethernet gateway: named in the ports file
// and reached natively (ser2net as the gateway), or through a socat link
// for programs that know only serial devices. All on loopback.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


#include <QButtonGroup>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>

#include "ConsoleDlg.h"
#include "EdidPage.h"
#include "PortList.h"
#include "Simulator.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

struct Socat {
  explicit Socat(const QStringList& addresses) {
    process.start(QStringLiteral("socat"), addresses);
    started = process.waitForStarted(5000);
  }
  ~Socat() {
    process.kill();
    process.waitForFinished(2000);
  }
  QProcess process;
  bool started = false;
};

// Search Machine pressed: the unit found on COM`port` and its port open,
// with nothing for a box to say.
void SearchFinds(CConsoleDlg& window, test::CDialogRecorder& dialogs, int port) {
  window.SearchButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return window.Search().m_bSearching == 0; }, 5000ms));
  EXPECT_EQ(window.m_nPort, port);
  EXPECT_EQ(window.m_bPortOpen, 1);
  EXPECT_TRUE(dialogs->messages.isEmpty()) << dialogs->messages.join("|").toStdString();
}

// A preset clicked reaches the unit, and its answer the page.
void PresetReaches(CConsoleDlg& window, sim::CSimulator& device) {
  ASSERT_TRUE(test::WaitUntil([&] { return window.m_serial.MonitorRunning(); }));
  window.EdidPage()->PresetGroup()->button(3)->click();
  EXPECT_TRUE(test::WaitUntil([&] { return !device.Commands().empty() && device.Commands().back() == "SET IN1 EDID 03"; }, 5000ms));
  EXPECT_TRUE(test::WaitUntil([&] { return window.EdidPage()->m_nPreset == 3; }));
}

TEST(Gateway, TheConsoleFindsTheDeviceOnAPseudoTerminalBridgedOverTcp) {
  sim::CSimulator device({.com = 5, .fast = true});
  std::string error;
  ASSERT_TRUE(device.StartThread(error)) << error;
  const QString port = QString::number(test::FreeTcpPort());
  // The gateway: 57600 8N1 on its serial side, a TCP server on the other.
  Socat gateway({QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                 QStringLiteral("FILE:%1/COM5,raw,echo=0").arg(QString::fromStdString(device.PortDir()))});
  ASSERT_TRUE(gateway.started) << "socat is needed (scripts/deps installs it)";
  // The PC side, as the README has it: no wait-slave, so the link lives on
  // through every open and close of the port.
  sim::CPortFolder folder;
  test::CScopedEnv env("VANTORQ_PORT_DIR", folder.Path());
  const QString link = QString::fromStdString(folder.LinkPath(7));
  // Retried until the gateway listens.
  Socat bridge({QStringLiteral("PTY,link=%1,raw,echo=0").arg(link),
                QStringLiteral("TCP:127.0.0.1:%1,retry=50,interval=0.1").arg(port)});
  ASSERT_TRUE(bridge.started);
  ASSERT_TRUE(test::WaitUntil([&] { return ::access(link.toLocal8Bit().constData(), F_OK) == 0; }, 5000ms));

  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  ASSERT_NO_FATAL_FAILURE(SearchFinds(window, dialogs, 7));
  // Closed and opened again, the bridge still carries commands.
  window.PortButton()->click();
  window.PortButton()->click();
  ASSERT_EQ(window.m_bPortOpen, 1);
  ASSERT_NO_FATAL_FAILURE(PresetReaches(window, device));
}

TEST(Gateway, TheSearchFindsAUnitBehindSer2netUnderItsComName) {
  sim::CSimulator device({.com = 5, .fast = true});
  std::string error;
  ASSERT_TRUE(device.StartThread(error)) << error;
  const int port = test::FreeTcpPort();
  test::CSer2net gateway(
      test::Ser2netConnection("hall", "telnet(rfc2217),tcp", port, device.PortDir() + "/COM5"), {port});
  ASSERT_TRUE(gateway.Started()) << gateway.Error();
  test::CWorkFolder work;
  sim::CPortFolder nothing;  // no local ports at all
  test::CScopedEnv ports("VANTORQ_PORT_DIR", nothing.Path());
  const test::CPortsFile config(work.Path(), "COM40 rfc2217://127.0.0.1:" + std::to_string(port) + "\n");
  ASSERT_TRUE(config.Written());

  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  ASSERT_NO_FATAL_FAILURE(SearchFinds(window, dialogs, 40));
  ASSERT_NO_FATAL_FAILURE(PresetReaches(window, device));
  // The port list says what COM40 is (read as the list opens).
  RefreshPortTooltips(*window.PortList());
  EXPECT_NE(window.PortList()->itemData(39, Qt::ToolTipRole).toString().indexOf(QStringLiteral("rfc2217://127.0.0.1:")), -1);
}

}  // namespace
}  // namespace vantorq
