// Drives the console in a real window the way an operator would, through
// its own widgets: search for the device, make a Settings choice, pick an
// EDID preset, read the output port's EDID. Saves a screenshot of each page
// into the folder given as argument. Run by scripts/screenshots, which
// checks the simulated device's log for the commands.

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <functional>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConsoleApp.h"
#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "EdidDetailsDlg.h"
#include "EdidPage.h"
#include "SettingsPage.h"
#include "Dialogs.h"
#include "Support.h"

namespace {

using namespace std::chrono_literals;
using vantorq::test::Pump;
using vantorq::test::WaitUntil;

int Fail(const char* what) {
  std::fprintf(stderr, "walkthrough: %s\n", what);
  return 1;
}

bool Shot(QWidget& window, const QString& path) {
  Pump(300ms);  // let the window finish painting
  const QPixmap pixmap = window.screen()->grabWindow(window.winId());
  return !pixmap.isNull() && pixmap.save(path);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  vantorq::ConfigureApplication(app);
  // A desktop's larger text (GNOME's Large Text gives the application its
  // font through the platform theme; here it is given directly).
  if (const double points = qEnvironmentVariable("VANTORQ_FONT_POINTS").toDouble(); points > 0) {
    QFont font = QApplication::font();
    font.setPointSizeF(points);
    QApplication::setFont(font);
  }
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  vantorq::test::CDialogRecorder dialogs;  // message boxes are recorded, never block

  vantorq::CConsoleDlg dlg;
  dlg.show();
  if (!WaitUntil([&] { return dlg.windowHandle() != nullptr && dlg.windowHandle()->isExposed(); }, 5000ms)) {
    return Fail("the window never showed");
  }
  std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
  // The caption as the window manager sees it, nothing appended.
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(dlg.winId()), QStringLiteral("_NET_WM_NAME")});
  if (xprop.waitForFinished(5000) && xprop.exitCode() == 0) {
    const QString caption = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    std::printf("caption: %s\n", qPrintable(caption));
    if (!caption.endsWith(QStringLiteral("= \"Vantorq V0.1\""))) return Fail("the caption is not \"Vantorq V0.1\"");
  } else {
    std::printf("caption: not checked (no xprop)\n");
  }

  dlg.SearchButton()->click();
  if (!WaitUntil([&] { return dlg.m_bPortOpen != 0; }, 10000ms)) return Fail("the search found no device");
  std::printf("found the device on COM%d\n", dlg.m_nPort);
  Pump(500ms);  // the rest of the status answer

  auto* settings = dlg.SettingsPage();
  settings->EnhancementGroup()->button(2)->click();  // Medium
  Pump(300ms);
  settings->ScalerGroup()->button(2)->click();  // 2K->4K
  Pump(300ms);
  if (!Shot(dlg, out + "/settings.png")) return Fail("no screenshot of the Settings page");

  dlg.Tab()->SetCurSel(1);
  auto* edid = dlg.EdidPage();
  edid->PresetGroup()->button(7)->click();  // 4K60Hz_3D_8CH
  Pump(300ms);
  edid->PortGroup()->button(1)->click();  // Output port
  edid->ReadButton()->click();
  if (!WaitUntil([&] { return !dialogs->messages.isEmpty(); }, 5000ms)) return Fail("no read-back reply");
  std::printf("message: %s\n", qPrintable(dialogs->messages.last()));
  if (!dialogs->messages.last().startsWith("Save to file: ")) return Fail("the read-back was not saved");
  if (!Shot(dlg, out + "/edid.png")) return Fail("no screenshot of the EDID page");
  std::printf("summary:\n%s", qPrintable(edid->m_strBasicInfo.replace("\r\n", "\n")));

  // The whole EDID, a button away.
  edid->DetailsButton()->click();
  auto* details = edid->DetailsWindow();
  if (details == nullptr || !WaitUntil([&] { return details->windowHandle() != nullptr && details->windowHandle()->isExposed(); }, 5000ms)) {
    return Fail("the details window never showed");
  }
  if (!Shot(*details, out + "/details.png")) return Fail("no screenshot of the details window");
  details->close();

  // A click with the port closed: nothing sent, and the window says so.
  dlg.PortButton()->click();
  edid->PresetGroup()->button(3)->click();
  if (!Shot(dlg, out + "/closed.png")) return Fail("no screenshot of the closed port's note");

  // A unit behind a network gateway that hangs up: the note names the
  // connection and what to look at.
  int gatewayPort = 0;
  const int listener = vantorq::test::ListenOnLoopback(1, gatewayPort);
  if (listener < 0) return Fail("no loopback gateway");
  const vantorq::test::CWorkFolder config;
  const vantorq::test::CPortsFile ports(config.Path(), "COM40 rfc2217://127.0.0.1:" + std::to_string(gatewayPort) + "\n");
  if (!ports.Written()) return Fail("no ports file");
  dlg.PortList()->setCurrentIndex(39);
  emit dlg.PortList()->activated(39);
  pollfd incoming{listener, POLLIN, 0};
  if (!WaitUntil([&] { return ::poll(&incoming, 1, 0) == 1; }, 5000ms)) return Fail("the console never connected to the gateway");
  ::close(::accept(listener, nullptr, nullptr));  // and hangs up at once
  ::close(listener);
  if (!WaitUntil([&] { return dlg.m_bPortOpen == 0; }, 5000ms)) return Fail("the lost connection was not noticed");
  if (!Shot(dlg, out + "/gateway-lost.png")) return Fail("no screenshot of the lost gateway's note");
  return 0;
}
