#include "ConsoleDlg.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QThread>

#include "AboutBox.h"
#include "Commands.h"
#include "DialogBuilder.h"
#include "EdidFile.h"
#include "EdidPage.h"
#include "OpenFailure.h"
#include "OperatorDialogs.h"
#include "PortList.h"
#include "Reach.h"
#include "Resources.h"
#include "SettingsPage.h"
#include "Trace.h"

namespace vantorq {

namespace {

const QString kTurnOnPort = QStringLiteral("Turn on Port");
const QString kClosePort = QStringLiteral("Close Port");
const QString kOpenPortAfterError = QStringLiteral("Open port");
const QString kCannotOpen = QStringLiteral("Can not find this port or used by other application");
const QString kNoDevice = QStringLiteral("Can not find available device for this console!");
const QString kNothingSent = QStringLiteral("The port is closed: nothing was sent.");
constexpr unsigned long kSelectPauseMs = 200;

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

CConsoleDlg::CConsoleDlg(QWidget* parent, std::shared_ptr<IPortOpener> opener, std::shared_ptr<IClock> clock)
    : QDialog(parent), m_serial(std::move(opener), std::move(clock)) {
  setObjectName(QStringLiteral("consoleDlg"));
  // Before the first reply the buffer reads as an empty (erased) EDID.
  m_readBackBuffer.fill(0xFF);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  // The operator's text size, within the screen: every dialog follows it.
  res::ChooseDialogScale(res::ConsoleDialog());
  const auto controls = res::BuildDialog(*this, res::ConsoleDialog());
  m_lamp = controls.As<QLabel>(res::ids::kPortLamp);
  m_portButton = controls.As<QPushButton>(res::ids::kPortButton);
  m_portList = controls.As<QComboBox>(res::ids::kPortList);
  m_status = controls.As<QLabel>(res::ids::kStatusLine);
  m_searchButton = controls.As<QPushButton>(res::ids::kSearchButton);
  m_portNote = controls.As<QLabel>(res::ids::kPortNote);
  ShowPortNote(QString());
  m_tab = dynamic_cast<res::CTabCtrl*>(controls.Get(res::ids::kTab));

  FillPortList(*m_portList);
  DescribeConsole(controls);
  InstallShortcuts(*this, *m_tab, [this] { OnSysCommand(ID_SYSMENU_ABOUT); });

  OnInitDialog();

  // Connected once the pages exist: inserting the first tab selects it.
  connect(m_portButton, &QPushButton::clicked, this, [this] { OnTurnOnPort(); });
  connect(m_portList, &QComboBox::activated, this, [this] { OnSelectPort(); });
  connect(m_searchButton, &QPushButton::clicked, this, [this] { OnSearchMachine(); });
  connect(m_tab->TabBar(), &QTabBar::currentChanged, this, [this] { OnSelchangeTab(); });
}

CConsoleDlg::~CConsoleDlg() = default;

void CConsoleDlg::OnInitDialog() {
  UpdateData(false);

  AddAboutItem(*this, [this] { OnSysCommand(ID_SYSMENU_ABOUT); });

  m_hAppIcon = res::IconPixmap(res::ids::kIconApp);
  setWindowIcon(res::Icon(res::ids::kIconApp));
  m_hLampOn = res::IconPixmap(res::ids::kIconLampOn);
  m_hLampOff = res::IconPixmap(res::ids::kIconLampOff);
  ShowLamp(false);
  m_portList->setCurrentIndex(m_nPort - 1);
  m_strStatus = QStringLiteral(" ");

  m_tab->InsertItem(0, QStringLiteral("Settings"));
  m_tab->InsertItem(1, QStringLiteral("EDID Management"));
  m_settingsPage = new CSettingsPage(m_tab);
  m_edidPage = new CEdidPage(m_tab);
  // Below the tab row, as tall as its text makes it (20 px at the usual size).
  const QRect client = m_tab->rect();
  const int row = m_tab->TabRowHeight();
  for (QWidget* page : {static_cast<QWidget*>(m_settingsPage), static_cast<QWidget*>(m_edidPage)}) {
    page->setGeometry(client.left() + 1, client.top() + row, client.width() - 3, client.height() - row - 1);
  }
  m_settingsPage->show();
  m_edidPage->hide();

  ReadAddressFile();
}

void CConsoleDlg::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    m_strStatus = m_status->text();
  } else {
    m_status->setText(m_strStatus);
  }
}

void CConsoleDlg::ShowLamp(bool lit) {
  m_bLampLit = lit;
  res::ShowLamp(*m_lamp, lit, m_hLampOn, m_hLampOff);
}

void CConsoleDlg::ShowPortState(bool open, const QString& buttonText) {
  m_bPortOpen = open ? 1 : 0;
  m_portButton->setText(buttonText);
  m_portButton->setAccessibleDescription(QString());
  m_portButton->setToolTip(QString());
  // A port the operator opens starts a new story: what went wrong with the
  // last one is said no more.
  if (open) ShowPortNote(QString());
  ShowLamp(open);
}

void CConsoleDlg::SayLineFailed() {
  // Said where the operator looks (beneath the port row and on the
  // button), to whoever started the console from a terminal, and to a
  // screen reader; it stays until a port is opened again.
  const std::string failure = m_serial.DescribeFailure();
  const std::string remedy = LineFailureRemedy(m_serial.LastOpen().path);
  const QString note = Text("The line failed: " + failure + " \u2014 " + remedy);
  const std::string why = "COM" + std::to_string(m_nPort) + " (" + EscapeControls(m_serial.LastOpen().path) +
                          "): the line failed: " + failure + "; the port was closed \u2014 " + remedy;
  WriteErrorLine("vantorq: " + why);
  ShowPortNote(note);
  m_portButton->setToolTip(note);
  m_portButton->setAccessibleDescription(Text(why) + QStringLiteral(". Press to open the port again."));
  for (const auto kind : {QAccessible::NameChanged, QAccessible::DescriptionChanged}) {
    QAccessibleEvent changed(m_portButton, kind);
    QAccessible::updateAccessibility(&changed);
  }
}

void CConsoleDlg::ShowPortNote(const QString& text) {
  m_portNote->setText(text);
  m_portNote->setAccessibleName(text.isEmpty() ? QStringLiteral("Port note: none") : text);
  QAccessibleEvent changed(m_portNote, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

void CConsoleDlg::SayNothingSent() { ShowPortNote(kNothingSent); }

void CConsoleDlg::ForgetDeviceState() {
  KillTimer(ID_TIMER_STATE);
  m_edidPage->ForgetDevice();
  m_settingsPage->ForgetDevice();
}

void CConsoleDlg::DeviceAnswered() {
  // Whatever it said, the device speaks on this port: it is no longer
  // said to be silent.
  if (TimerRunning(ID_TIMER_STATE)) KillTimer(ID_TIMER_STATE);
}

void CConsoleDlg::AskDeviceState() {
  ForgetDeviceState();
  m_serial.QueueWrite(protocol::ProbeCommand());
  SetTimer(ID_TIMER_STATE, kFirstProbeWindowMs);
}

void CConsoleDlg::ClosePortShown(const QString& buttonText) {
  m_bPortOpen = 0;
  KillTimer(ID_TIMER_STATE);
  m_portButton->setText(buttonText);
  m_portButton->setAccessibleDescription(QString());
  CloseChannel();
  ShowLamp(false);
}

void CConsoleDlg::OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  // Every other notification takes the default handling, which does nothing.
  if (message == WM_SERIAL_BYTE) OnSerialByte(static_cast<unsigned>(wParam & 0xFF), static_cast<unsigned>(lParam));
  if (message == WM_SERIAL_WRITTEN) {
    m_writeWaits.OnWritten(WrittenTicket(wParam), WrittenOutcome(wParam));
    // The line failed under a write: nothing may go on looking open until
    // a byte happens to arrive. Timer 5 closes it as after a read failure.
    if (m_serial.m_bError != 0) SetTimer(ID_TIMER_COMM_ERROR, 1);
  }
}

bool CConsoleDlg::WriteUserEdid(EdidView edid, std::function<void(const UserEdidOutcome&)> done) {
  // Told after the byte or notification that ended it has been handled:
  // a message box there would hold the monitor.
  return m_userEdid.Start(edid, true, [this, done = std::move(done)](const UserEdidOutcome& outcome) {
    QMetaObject::invokeMethod(this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
  });
}

WriteTicket CConsoleDlg::SendCommand(std::span<const std::uint8_t> command) {
  return m_bPortOpen != 0 ? m_serial.QueueWrite(command) : 0;
}

void CConsoleDlg::EndWrites(const std::string& event) {
  m_writeWaits.EndAll(WriteOutcome::Stopped);
  m_userEdid.Abandon(event);
}

void CConsoleDlg::OnSerialByte(unsigned byte, unsigned port) {
  Act(m_router.OnSerialByte(byte, port, m_serial.m_bError != 0));
}

void CConsoleDlg::OnTextByte(std::uint8_t byte) { Act(m_router.OnTextByte(byte)); }

void CConsoleDlg::OnReadBackByte(std::uint8_t byte) { Act(m_router.OnReadBackByte(byte)); }

void CConsoleDlg::Act(const RouterEvent& event) {
  switch (event.kind) {
    case RouterEvent::Kind::None:
      break;
    case RouterEvent::Kind::CommError:
      SetTimer(ID_TIMER_COMM_ERROR, 1);
      break;
    case RouterEvent::Kind::EdidStatus:
      m_edidPage->SetEdidStatus(event.value);
      m_search.OnEdidStatus();
      DeviceAnswered();
      break;
    case RouterEvent::Kind::ScalerStatus:
      m_settingsPage->SetScalerStatus(event.value);
      DeviceAnswered();
      break;
    case RouterEvent::Kind::EnhancementStatus:
      m_settingsPage->SetEnhancementStatus(event.value);
      DeviceAnswered();
      break;
    case RouterEvent::Kind::ReadBackLine: {
      if (event.replyFor == ReplyFor::Verification) {
        // The unit's copy of a user EDID just written: compared, not saved.
        m_userEdid.OnReply(event.line);
        break;
      }
      const ReadBackOutcome outcome = m_readBack.Complete(event.line, m_strFilePattern, m_readBackBuffer);
      ShowMessage(this, Text(outcome.message), Text(outcome.detail));
      if (outcome.saved) {
        m_edidPage->m_strBasicInfo = Text(outcome.summary);
        m_edidPage->UpdateData(false);
        m_edidPage->InfoBox()->setToolTip(Text(outcome.verdict));
        m_edidPage->SetDetails(Text(EdidDetailsText(m_readBackBuffer, "Saved to: " + outcome.savedPath)));
      }
      break;
    }
  }
}

void CConsoleDlg::AwaitReadBack(std::string pattern) {
  m_strFilePattern = std::move(pattern);
  m_router.AwaitReadBack();
}

void CConsoleDlg::OnSelchangeTab() {
  const int selected = m_tab->GetCurSel();
  if (selected != 0 && selected != 1) return;
  m_settingsPage->setVisible(selected == 0);
  m_edidPage->setVisible(selected == 1);
}

void CConsoleDlg::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0u) == ID_SYSMENU_ABOUT) {
    CAboutBox about(this);
    about.exec();
  }
}

bool CConsoleDlg::OpenChannel(int port) {
  // Whatever the old port was saying is not the new one's to finish.
  m_router.Reset();
  EndWrites("The port was closed");
  return m_serial.Open(this, static_cast<unsigned>(port), m_nBaud, m_cParity, m_nDataBits, m_nStopBits,
                       static_cast<std::uint32_t>(m_nEventMask), kWriteBufferSize) != 0;
}

void CConsoleDlg::CloseChannel() {
  m_router.Reset();
  m_serial.Close();
  // Whatever was still being written or verified went with the port.
  EndWrites("The port was closed");
}

QString CConsoleDlg::ExplainOpenFailure() const {
  // The box's fixed text cannot say why; the system can: beneath it, and on
  // standard error.
  return QString::fromStdString(ReportOpenFailure(static_cast<unsigned>(m_nPort), m_serial.LastOpen()));
}

void CConsoleDlg::OnTurnOnPort() {
  m_search.Cancel();
  m_serial.m_bError = 0;
  if (m_bPortOpen != 0) {
    ClosePortShown(kTurnOnPort);
    return;
  }
  if (OpenChannel(m_nPort)) {
    m_serial.StartMonitor();
    ShowPortState(true, kClosePort);
    AskDeviceState();
  } else {
    m_bPortOpen = 0;
    ShowMessage(this, kCannotOpen, ExplainOpenFailure());
    ShowPortState(false, kTurnOnPort);
  }
}

void CConsoleDlg::OnSelectPort() {
  m_search.Cancel();
  m_serial.m_bError = 0;
  if (m_serial.HasPort()) CloseChannel();
  m_nPort = m_portList->currentIndex() + 1;
  if (!OpenChannel(m_nPort)) {
    // The channel holds no port now, whatever the window showed before.
    ShowPortState(false, kTurnOnPort);
    ShowMessage(this, kCannotOpen, ExplainOpenFailure());
    return;
  }
  if (m_bPortOpen != 0) {
    // Opened but shown closed and not monitored: turning the port on
    // reopens it and starts reception.
    ShowPortState(false, kTurnOnPort);
  } else {
    m_serial.StartMonitor();
    ShowPortState(true, kClosePort);
    QThread::msleep(kSelectPauseMs);
    AskDeviceState();
  }
}

void CConsoleDlg::OnSearchMachine() {
  m_serial.m_bError = 0;
  ClosePortShown(kTurnOnPort);
  // Whatever the last port said: the device the search finds tells its own.
  ForgetDeviceState();
  ShowPortNote(QString());
  m_search.Start();
}

void CConsoleDlg::OnTimer(int id) {
  if (id == ID_TIMER_SEARCH) {
    m_search.OnTimer();
  } else if (id == ID_TIMER_COMM_ERROR) {
    KillTimer(ID_TIMER_COMM_ERROR);
    if (m_serial.m_bError == 0) return;
    if (m_search.m_bSearching != 0) {
      // The port a search probes failed: the search closes it and goes on.
      m_search.OnPortFailed();
      return;
    }
    m_userEdid.Abandon("The line failed (" + m_serial.DescribeFailure() + ")");
    ClosePortShown(kOpenPortAfterError);
    SayLineFailed();
  } else if (id == ID_TIMER_STATE) {
    KillTimer(ID_TIMER_STATE);
    // Not a modal box: the port stays open, and the device may yet speak.
    if (m_bPortOpen != 0) ShowPortNote(QStringLiteral("No answer from the device on COM%1.").arg(m_nPort));
  } else if (id == ID_TIMER_VERIFY) {
    KillTimer(ID_TIMER_VERIFY);
    m_router.ForgetReadBack(ReplyFor::Verification);
    m_userEdid.OnReplyTimeout();
  }
}

bool CConsoleDlg::OpenPort(int port) {
  // A failure of the port tried before says nothing about this one.
  m_serial.m_bError = 0;
  if (!OpenChannel(port)) return false;
  m_serial.StartMonitor();
  return true;
}

std::string CConsoleDlg::FailureLabel() const { return m_serial.DescribeFailure(); }

void CConsoleDlg::SendProbe() { m_serial.QueueWrite(protocol::ProbeCommand()); }

void CConsoleDlg::ShowStatus(std::string_view text) {
  m_strStatus = Text(text);
  UpdateData(false);
}

void CConsoleDlg::ShowFound() {
  ShowPortState(true, kClosePort);
  m_portList->setCurrentIndex(m_nPort - 1);
  ShowStatus(" ");
}

void CConsoleDlg::ShowNoDevice(const std::string& detail) { ShowMessage(this, kNoDevice, Text(detail)); }

void CConsoleDlg::ReadAddressFile() {
  AddressTable table;
  vantorq::ReadAddressFile(std::string(kAddressFileName), table,
                           [this](std::string_view text) { ShowMessage(this, Text(text)); });
  m_wAddress = table.address;
  m_szAddrDesc = table.description;
}

}  // namespace vantorq
