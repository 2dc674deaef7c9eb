// The device behind a serial-to-Ethernet gateway, as the README tells
// technicians to reach it: socat makes a pseudo-terminal link COM7 that
// carries the bytes to the gateway's TCP port. Here the gateway is socat
// too, in front of the simulated device, all on loopback.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QProcess>
#include <QPushButton>

#include "ConsoleDlg.h"
#include "EdidPage.h"
#include "Simulator.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

using namespace std::chrono_literals;

int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

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

TEST(Gateway, TheConsoleFindsTheDeviceOnAPseudoTerminalBridgedOverTcp) {
  sim::CSimulator device({.com = 5, .fast = true});
  std::string error;
  ASSERT_TRUE(device.StartThread(error)) << error;
  const QString port = QString::number(FreeTcpPort());
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
  window.SearchButton()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return window.Search().m_bSearching == 0; }, 5000ms));
  EXPECT_EQ(window.m_nPort, 7);
  EXPECT_EQ(window.m_bPortOpen, 1);
  EXPECT_TRUE(dialogs->messages.isEmpty()) << dialogs->messages.join("|").toStdString();
  // Closed and opened again, the bridge still carries commands.
  window.PortButton()->click();
  window.PortButton()->click();
  ASSERT_EQ(window.m_bPortOpen, 1);
  ASSERT_TRUE(test::WaitUntil([&] { return window.m_serial.MonitorRunning(); }));
  window.EdidPage()->PresetGroup()->button(3)->click();
  EXPECT_TRUE(test::WaitUntil([&] { return !device.Commands().empty() && device.Commands().back() == "SET IN1 EDID 03"; }, 5000ms));
  EXPECT_TRUE(test::WaitUntil([&] { return window.EdidPage()->m_nPreset == 3; }));
}

}  // namespace
}  // namespace vantorq
