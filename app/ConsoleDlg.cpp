#include "ConsoleDlg.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QThread>
#include <QTimerEvent>

#include <cstdio>
#include <cstring>

#include "AboutBox.h"
#include "ComPorts.h"
#include "Commands.h"
#include "DialogBuilder.h"
#include "EdidFiles.h"
#include "EdidPage.h"
#include "EdidSummary.h"
#include "OpenFailure.h"
#include "OperatorDialogs.h"
#include "Resources.h"
#include "ReadBack.h"
#include "SettingsPage.h"
#include "StatusLine.h"

namespace vantorq {

int g_nSavedPort = 0;

namespace {

const QString kTurnOnPort = QStringLiteral("Turn on Port");
const QString kClosePort = QStringLiteral("Close Port");
const QString kOpenPortAfterError = QStringLiteral("Open port");
const QString kCannotOpen = QStringLiteral("Can not find this port or used by other application");
const QString kNoDevice = QStringLiteral("Can not find available device for this console!");
const QString kPleaseWait = QStringLiteral("Please wait.....");
const QString kBlank = QStringLiteral(" ");
constexpr int kFirstProbeWindowMs = 500;
constexpr int kNextProbeWindowMs = 400;
constexpr unsigned long kSelectPauseMs = 200;

}  // namespace

CConsoleDlg::CConsoleDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("consoleDlg"));
  // Before the first reply the buffer reads as an empty (erased) EDID.
  m_readBackBuffer.fill(0xFF);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  const auto controls = res::BuildDialog(*this, res::ConsoleDialog());
  m_lamp = controls.As<QLabel>(res::ids::kPortLamp);
  m_portButton = controls.As<QPushButton>(res::ids::kPortButton);
  m_portList = controls.As<QComboBox>(res::ids::kPortList);
  m_status = controls.As<QLabel>(res::ids::kStatusLine);
  m_searchButton = controls.As<QPushButton>(res::ids::kSearchButton);
  m_tab = dynamic_cast<res::CTabCtrl*>(controls.Get(res::ids::kTab));

  for (unsigned n = kFirstComPort; n <= kLastComPort; ++n) {
    m_portList->addItem(QStringLiteral("COM%1").arg(n));
    m_portList->setItemData(static_cast<int>(n - 1),
                            QString::fromStdString(ComDevicePath(n)), Qt::ToolTipRole);
  }

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

  // There is no system menu to extend on X11 or Wayland: the About item
  // lives in the window's context menu instead.
  const QString about = res::String(res::ids::kAboutString);
  if (!about.isEmpty()) {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* item = new QAction(about, this);
    item->setObjectName(QStringLiteral("aboutAction"));
    connect(item, &QAction::triggered, this, [this] { OnSysCommand(ID_SYSMENU_ABOUT); });
    addAction(separator);
    addAction(item);
    setContextMenuPolicy(Qt::ActionsContextMenu);
  }

  m_hAppIcon = res::IconPixmap(res::ids::kIconApp);
  setWindowIcon(QIcon(m_hAppIcon));

  m_hLampOn = res::IconPixmap(res::ids::kIconLampOn);
  m_hLampOff = res::IconPixmap(res::ids::kIconLampOff);
  m_bPortOpen = 0;
  m_nBaud = 57600;
  m_nPort = 1;
  m_cParity = 'N';
  m_nDataBits = 8;
  m_nStopBits = 1;
  m_nEventMask = 3;

  ShowLamp(false);
  m_portList->setCurrentIndex(m_nPort - 1);
  m_strStatus = QStringLiteral(" ");

  m_tab->InsertItem(0, QStringLiteral("Settings"));
  m_tab->InsertItem(1, QStringLiteral("EDID Management"));

  m_settingsPage = new CSettingsPage(m_tab);
  m_edidPage = new CEdidPage(m_tab);
  const QRect client = m_tab->rect();
  const int left = client.left();
  const int top = client.top();
  const int right = client.left() + client.width();
  const int bottom = client.top() + client.height();
  for (QWidget* page : {static_cast<QWidget*>(m_settingsPage), static_cast<QWidget*>(m_edidPage)}) {
    page->setGeometry(left + 1, top + res::CTabCtrl::kTabRowHeight, right - left - 3,
                      bottom - top - 21);
  }
  m_settingsPage->show();
  m_edidPage->hide();

  ReadAddressFile();

  m_bSearching = 0;
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
  res::SetIcon(*m_lamp, lit ? m_hLampOn : m_hLampOff);
}

void CConsoleDlg::OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  // Every other notification takes the default handling, which does nothing.
  if (message == WM_SERIAL_BYTE) {
    OnSerialByte(static_cast<unsigned>(wParam & 0xFF), static_cast<unsigned>(lParam));
  }
}

void CConsoleDlg::OnSerialByte(unsigned byte, unsigned port) {
  if (port < kFirstComPort || port > kLastComPort) return;
  if (m_serial.m_bError != 0) {
    // Closing here would wait for the monitor, which waits for us: the
    // port is closed by the timer once this handler has returned.
    SetTimer(ID_TIMER_COMM_ERROR, 1);
    return;
  }
  if (m_bReadBack != 0) {
    OnReadBackByte(static_cast<std::uint8_t>(byte));
  } else {
    OnTextByte(static_cast<std::uint8_t>(byte));
  }
}

void CConsoleDlg::OnTextByte(std::uint8_t byte) {
  m_strLine.push_back(static_cast<char>(byte));
  if (byte != '\n') return;
  const protocol::StatusUpdate update = protocol::ParseStatusLine(m_strLine);
  switch (update.kind) {
    case protocol::StatusKind::Edid:
      m_edidPage->SetEdidStatus(update.value);
      if (m_bSearching != 0) CompleteSearch();
      break;
    case protocol::StatusKind::Scaler:
      m_settingsPage->SetScalerStatus(update.value);
      break;
    case protocol::StatusKind::Enhancement:
      m_settingsPage->SetEnhancementStatus(update.value);
      break;
    case protocol::StatusKind::None:
      break;
  }
  m_strLine.clear();
}

void CConsoleDlg::CompleteSearch() {
  ShowLamp(true);
  m_bPortOpen = 1;
  m_portButton->setText(kClosePort);
  m_portList->setCurrentIndex(m_nPort - 1);
  m_strStatus = kBlank;
  KillTimer(ID_TIMER_SEARCH);
  m_bSearching = 0;
  UpdateData(false);
}

void CConsoleDlg::AwaitReadBack(std::string pattern) {
  m_strFilePattern = std::move(pattern);
  m_bReadBack = 1;
}

void CConsoleDlg::OnReadBackByte(std::uint8_t byte) {
  m_strLine.push_back(static_cast<char>(byte));
  if (byte != '\n') return;
  if (!protocol::IsEdidReply(m_strLine)) {
    // Status lines and noise while a reply is awaited are dropped.
    m_strLine.clear();
    return;
  }
  protocol::ParseEdidReply(m_strLine, m_readBackBuffer);

  const std::string name = NextEdidFileName(m_strFilePattern);
  switch (SaveEdidFile(name, m_readBackBuffer)) {
    case SaveResult::CreateFailed:
    case SaveResult::WriteFailed:
      ShowMessage(this, QStringLiteral("Faild to create file"));
      break;
    case SaveResult::Vanished:
      ShowMessage(this, QStringLiteral("failed"));
      break;
    case SaveResult::Saved:
      ShowMessage(this, QStringLiteral("Save to file: ") + QString::fromStdString(name));
      m_edidPage->m_strBasicInfo = QString::fromStdString(DecodeAndSummarise(m_report, m_readBackBuffer));
      m_edidPage->UpdateData(false);
      break;
  }
  m_strLine.clear();
  m_bReadBack = 0;
}

void CConsoleDlg::OnSelchangeTab() {
  switch (m_tab->GetCurSel()) {
    case 0:
      m_settingsPage->show();
      m_edidPage->hide();
      break;
    case 1:
      m_settingsPage->hide();
      m_edidPage->show();
      break;
    default:
      break;
  }
}

void CConsoleDlg::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0u) == ID_SYSMENU_ABOUT) {
    CAboutBox about(this);
    about.exec();
  }
}

QString CConsoleDlg::ExplainOpenFailure() const {
  // The box's fixed text cannot say why; the system can. The reason goes
  // beneath it and, for whoever started the console from a terminal, to
  // standard error.
  const std::string why = DescribeOpenFailure(static_cast<unsigned>(m_nPort), m_serial.LastOpen());
  std::fprintf(stderr, "vantorq: cannot open %s\n", why.c_str());
  return QString::fromStdString(why);
}

void CConsoleDlg::EndSearch() {
  // An operator's own choice of port ends a search: its next step would
  // otherwise close the port the window has just shown as open.
  KillTimer(ID_TIMER_SEARCH);
  if (m_bSearching == 0) return;
  m_bSearching = 0;
  m_strStatus = kBlank;
  UpdateData(false);
}

bool CConsoleDlg::TrySearchPort() {
  if (OpenPort() != 0) return true;
  if (!PortMissing(m_serial.LastOpenError())) {
    m_searchFailures.push_back({static_cast<unsigned>(m_nPort), m_serial.LastOpen()});
    std::fprintf(stderr, "vantorq: cannot open %s\n",
                 DescribeOpenFailure(static_cast<unsigned>(m_nPort), m_serial.LastOpen()).c_str());
  }
  return false;
}

void CConsoleDlg::ReportNoDevice() {
  std::string detail = SummariseSearch(m_searchSilent, m_searchFailures);
  if (detail.empty()) detail = "No serial port could be opened on COM1 to COM99 \u2014 is the adapter plugged in?";
  ShowMessage(this, kNoDevice, QString::fromStdString(detail));
}

int CConsoleDlg::OpenPort() {
  return m_serial.Open(this, static_cast<unsigned>(m_nPort), m_nBaud, m_cParity, m_nDataBits,
                       m_nStopBits, static_cast<std::uint32_t>(m_nEventMask), kWriteBufferSize);
}

void CConsoleDlg::OnTurnOnPort() {
  EndSearch();
  m_serial.m_bError = 0;
  if (m_bPortOpen != 0) {
    m_bPortOpen = 0;
    m_portButton->setText(kTurnOnPort);
    m_serial.Close();
    ShowLamp(false);
    return;
  }
  if (OpenPort() != 0) {
    m_serial.StartMonitor();
    ShowLamp(true);
    m_bPortOpen = 1;
    m_portButton->setText(kClosePort);
  } else {
    m_bPortOpen = 0;
    ShowMessage(this, kCannotOpen, ExplainOpenFailure());
    ShowLamp(false);
    m_portButton->setText(kTurnOnPort);
  }
}

void CConsoleDlg::OnSelectPort() {
  EndSearch();
  m_serial.m_bError = 0;
  if (m_serial.HasPort()) m_serial.Close();
  m_nPort = m_portList->currentIndex() + 1;
  if (OpenPort() == 0) {
    ShowLamp(false);
    ShowMessage(this, kCannotOpen, ExplainOpenFailure());
    return;
  }
  if (m_bPortOpen != 0) {
    // Opened but shown closed and not monitored: turning the port on
    // reopens it and starts reception.
    ShowLamp(false);
    m_portButton->setText(kTurnOnPort);
    m_bPortOpen = 0;
  } else {
    m_serial.StartMonitor();
    ShowLamp(true);
    m_portButton->setText(kClosePort);
    m_bPortOpen = 1;
    QThread::msleep(kSelectPauseMs);
  }
}

void CConsoleDlg::SendProbe() { m_serial.QueueWrite(protocol::ProbeCommand()); }

void CConsoleDlg::OnSearchMachine() {
  m_serial.m_bError = 0;
  m_bPortOpen = 0;
  m_portButton->setText(kTurnOnPort);
  m_serial.Close();
  ShowLamp(false);

  g_nSavedPort = m_nPort;
  m_searchSilent.clear();
  m_searchFailures.clear();
  for (m_nPort = 1; m_nPort <= static_cast<int>(kLastComPort); ++m_nPort) {
    if (TrySearchPort()) {
      m_serial.StartMonitor();
      SendProbe();
      m_bSearching = 1;
      m_strStatus = kPleaseWait;
      UpdateData(false);
      SetTimer(ID_TIMER_SEARCH, kFirstProbeWindowMs);
      return;
    }
  }
  m_nPort = 1;
  m_strStatus = kBlank;
  UpdateData(false);
  KillTimer(ID_TIMER_SEARCH);
  m_bSearching = 0;
  ReportNoDevice();
}

void CConsoleDlg::SearchStep() {
  // Close delivers nothing: no status line can complete the search here.
  m_serial.Close();
  m_searchSilent.push_back(static_cast<unsigned>(m_nPort));
  for (++m_nPort; m_nPort <= static_cast<int>(kLastComPort); ++m_nPort) {
    if (TrySearchPort()) {
      m_serial.StartMonitor();
      SendProbe();
      SetTimer(ID_TIMER_SEARCH, kNextProbeWindowMs);
      return;
    }
  }
  KillTimer(ID_TIMER_SEARCH);
  m_bSearching = 0;
  m_nPort = g_nSavedPort;
  m_strStatus = kBlank;
  UpdateData(false);
  ReportNoDevice();
}

void CConsoleDlg::OnTimer(int id) {
  if (id == ID_TIMER_SEARCH) {
    if (m_serial.m_bError != 0) {
      // The port failed mid-search: stop here, timer 5 closes it.
      KillTimer(ID_TIMER_SEARCH);
      m_bSearching = 0;
    } else if (m_bSearching != 0) {
      SearchStep();
    } else {
      KillTimer(ID_TIMER_SEARCH);
    }
    return;
  }
  if (id == ID_TIMER_COMM_ERROR) {
    if (m_serial.m_bError != 0) {
      m_portButton->setText(kOpenPortAfterError);
      m_serial.Close();
      ShowLamp(false);
      m_bPortOpen = 0;
    }
    KillTimer(ID_TIMER_COMM_ERROR);
  }
}

void CConsoleDlg::SetTimer(int id, int periodMs) {
  if (id < 0 || id >= static_cast<int>(m_timers.size())) return;
  if (m_timers[id] != 0) killTimer(m_timers[id]);
  // Precise: a coarse Qt timer may fire up to 5% early, and the search
  // windows are promised to the device in full.
  m_timers[id] = startTimer(periodMs, Qt::PreciseTimer);
  m_timerPeriods[id] = periodMs;
}

int CConsoleDlg::TimerPeriod(int id) const {
  return id >= 0 && id < static_cast<int>(m_timerPeriods.size()) ? m_timerPeriods[id] : 0;
}

void CConsoleDlg::KillTimer(int id) {
  if (id < 0 || id >= static_cast<int>(m_timers.size()) || m_timers[id] == 0) return;
  killTimer(m_timers[id]);
  m_timers[id] = 0;
}

bool CConsoleDlg::TimerRunning(int id) const {
  return id >= 0 && id < static_cast<int>(m_timers.size()) && m_timers[id] != 0;
}

void CConsoleDlg::timerEvent(QTimerEvent* event) {
  for (int id = 0; id < static_cast<int>(m_timers.size()); ++id) {
    if (m_timers[id] == event->timerId()) {
      OnTimer(id);
      return;
    }
  }
  QDialog::timerEvent(event);
}

void CConsoleDlg::ReadAddressFile() {
  AddressTable table;
  vantorq::ReadAddressFile(std::string(kAddressFileName), table,
                           [this](std::string_view text) { ShowMessage(this, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))); });
  m_wAddress = table.address;
  m_szAddrDesc = table.description;
}

}  // namespace vantorq
