#pragma once
// The console's main window: port controls, status line, and the tab
// control with the two pages. Every byte received from the device arrives
// here; the router, the device search and the read-back service decide
// what it means, and the window shows it.

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AddressFile.h"
#include "ByteRouter.h"
#include "DeviceSearch.h"
#include "EdidBuffer.h"
#include "EdidReport.h"
#include "PageHost.h"
#include "ReadBackService.h"
#include "SerialChannel.h"
#include "UserEdidWrite.h"
#include "WindowTimers.h"
#include "WriteWaits.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace vantorq {

namespace res {
class CTabCtrl;
}
class CSettingsPage;
class CEdidPage;

inline constexpr int ID_TIMER_SEARCH = 4;
inline constexpr int ID_TIMER_COMM_ERROR = 5;
// The read-back that proves a user-EDID write.
inline constexpr int ID_TIMER_VERIFY = 6;
// The device's answer to the state asked when a port opens.
inline constexpr int ID_TIMER_STATE = 7;
// How long the device may take to begin its reply: the search's first window.
inline constexpr auto kAnswerWait = std::chrono::milliseconds(500);
inline constexpr unsigned ID_SYSMENU_ABOUT = 16;

inline constexpr std::uint32_t kWriteBufferSize = 1024;

class CConsoleDlg final : public QDialog,
                          public CSerialOwner,
                          public CPageHost,
                          private ISearchHost,
                          private IUserEdidHost {
 public:
  explicit CConsoleDlg(QWidget* parent = nullptr, std::shared_ptr<IPortOpener> opener = PosixPortOpener(),
                       std::shared_ptr<IClock> clock = SystemClock());
  ~CConsoleDlg() override;

  // Received-byte routing; the only entry for data from the device.
  void OnSerialByte(unsigned byte, unsigned port);
  void OnTextByte(std::uint8_t byte);
  void OnReadBackByte(std::uint8_t byte);

  void OnSelchangeTab();
  void OnSysCommand(unsigned id);
  void OnTurnOnPort();
  void OnSelectPort();
  void OnSearchMachine();
  void OnTimer(int id);

  // Pushes member values to the controls (false) or takes them (true).
  void UpdateData(bool saveAndValidate);

  void SetTimer(int id, int periodMs) { m_timers.SetTimer(id, periodMs); }
  void KillTimer(int id) { m_timers.KillTimer(id); }
  bool TimerRunning(int id) const { return m_timers.Running(id); }
  int TimerPeriod(int id) const { return m_timers.Period(id); }

  // CPageHost
  bool PortOpen() const override { return m_bPortOpen != 0; }
  CSerialChannel& Serial() override { return m_serial; }
  void AwaitReadBack(std::string pattern) override;
  bool WriteUserEdid(EdidView edid, std::function<void(const UserEdidOutcome&)> done) override;
  void SayNothingSent() override;

  // CSerialOwner
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

  QComboBox* PortList() const { return m_portList; }
  QLabel* PortLamp() const { return m_lamp; }
  QPushButton* PortButton() const { return m_portButton; }
  QPushButton* SearchButton() const { return m_searchButton; }
  QLabel* StatusLine() const { return m_status; }
  // Beneath the port row: no answer, a click that sent nothing, why the
  // line failed.
  QLabel* PortNote() const { return m_portNote; }
  res::CTabCtrl* Tab() const { return m_tab; }
  CSettingsPage* SettingsPage() const { return m_settingsPage; }
  CEdidPage* EdidPage() const { return m_edidPage; }
  // Which lamp icon control 1007 shows: true for the lit one.
  bool LampLit() const { return m_bLampLit; }
  CByteRouter& Router() { return m_router; }
  CDeviceSearch& Search() { return m_search; }

  // The window's state, shared with its pages and read by the tests as
  // plain members, in the order the window declares them.
  QString m_strStatus;
  CSerialChannel m_serial;
  EdidReport m_report;
  std::uint8_t m_bPortOpen = 0;
  EdidBuffer m_readBackBuffer{};
  std::string m_strFilePattern;
  std::array<std::uint16_t, kAddressCount> m_wAddress{};
  std::array<std::array<char, kAddrDescChars + 1>, kAddressCount> m_szAddrDesc{};
  int m_nBaud = 57600;
  int m_nPort = 1;
  char m_cParity = 'N';
  int m_nDataBits = 8;
  int m_nStopBits = 1;
  int m_nEventMask = 3;
  QPixmap m_hLampOn;
  QPixmap m_hLampOff;
  QPixmap m_hAppIcon;

 private:
  void OnInitDialog();
  void Act(const RouterEvent& event);
  void ShowLamp(bool lit);
  void ShowPortState(bool open, const QString& buttonText);
  // The port closed, shown dark with `buttonText` on the button.
  void ClosePortShown(const QString& buttonText);
  // After the line failed: why, beneath the port row, in the button's
  // tooltip, on standard error and to a screen reader.
  void SayLineFailed();
  // A port was opened for the operator: the pages forget what the last
  // port said, and the device is asked its state (the search's probe).
  void AskDeviceState();
  void ForgetDeviceState();
  void DeviceAnswered();
  void ShowPortNote(const QString& text);
  bool OpenChannel(int port);
  void CloseChannel();
  QString ExplainOpenFailure() const;
  void ReadAddressFile();
  // The port went (`event` says how): whatever was still being written or
  // verified went with it.
  void EndWrites(const std::string& event);

  // ISearchHost: the search's port, timer 4 and display.
  bool OpenPort(int port) override;
  OpenAttempt LastOpen() const override { return m_serial.LastOpen(); }
  void SendProbe() override;
  void ClosePort() override { CloseChannel(); }
  bool PortFailed() const override { return m_serial.m_bError != 0; }
  std::string FailureLabel() const override;
  void SetSearchTimer(int periodMs) override { SetTimer(ID_TIMER_SEARCH, periodMs); }
  void KillSearchTimer() override { KillTimer(ID_TIMER_SEARCH); }
  void ShowStatus(std::string_view text) override;
  void ShowFound() override;
  void ShowNoDevice(const std::string& detail) override;

  // IUserEdidHost: the window's port, timer 6 and read-back routing.
  WriteTicket SendCommand(std::span<const std::uint8_t> command) override;
  void AwaitReply() override { m_router.AwaitReadBack(ReplyFor::Verification); }
  void StartReplyTimer(std::chrono::milliseconds limit) override {
    SetTimer(ID_TIMER_VERIFY, static_cast<int>(limit.count()));
  }
  void StopReplyTimer() override { KillTimer(ID_TIMER_VERIFY); }

  CByteRouter m_router;
  CDeviceSearch m_search{*this, m_nPort};
  CReadBackService m_readBack{m_report};
  CWindowTimers m_timers{[this](int id) { OnTimer(id); }};
  // Writes whose outcome is awaited; told after the notification, never inside it.
  CWriteWaits m_writeWaits{[this](std::function<void()> done) {
    QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
  }};
  CUserEdidWrite m_userEdid{*this, m_writeWaits, kAnswerWait};

  QComboBox* m_portList = nullptr;
  QLabel* m_lamp = nullptr;
  QPushButton* m_portButton = nullptr;
  QPushButton* m_searchButton = nullptr;
  res::CTabCtrl* m_tab = nullptr;
  QLabel* m_status = nullptr;
  QLabel* m_portNote = nullptr;
  CSettingsPage* m_settingsPage = nullptr;
  CEdidPage* m_edidPage = nullptr;
  bool m_bLampLit = false;
};

}  // namespace vantorq
