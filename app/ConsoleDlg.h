#pragma once
// The console's main window: port controls, status line, and the tab
// control with the two pages. Every byte received from the device arrives
// here and goes to exactly one receiver.

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "AddressFile.h"
#include "EdidReport.h"
#include "OpenFailure.h"
#include "PageHost.h"
#include "SerialChannel.h"

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
inline constexpr unsigned ID_SYSMENU_ABOUT = 16;

inline constexpr std::uint32_t kWriteBufferSize = 1024;

// The device search's memory of the port chosen before it began.
extern int g_nSavedPort;

class CConsoleDlg final : public QDialog, public CSerialOwner, public CPageHost {
 public:
  explicit CConsoleDlg(QWidget* parent = nullptr);
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

  // Window timers by id; starting a running timer restarts it.
  void SetTimer(int id, int periodMs);
  void KillTimer(int id);
  bool TimerRunning(int id) const;
  // The period the timer was last started with, 0 if never.
  int TimerPeriod(int id) const;

  // CPageHost
  bool PortOpen() const override { return m_bPortOpen != 0; }
  CSerialChannel& Serial() override { return m_serial; }
  void AwaitReadBack(std::string pattern) override;

  // CSerialOwner
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

  QComboBox* PortList() const { return m_portList; }
  QLabel* PortLamp() const { return m_lamp; }
  QPushButton* PortButton() const { return m_portButton; }
  QPushButton* SearchButton() const { return m_searchButton; }
  QLabel* StatusLine() const { return m_status; }
  res::CTabCtrl* Tab() const { return m_tab; }
  CSettingsPage* SettingsPage() const { return m_settingsPage; }
  CEdidPage* EdidPage() const { return m_edidPage; }
  // Which lamp icon control 1007 shows: true for the lit one.
  bool LampLit() const { return m_bLampLit; }

  // The window's state, shared with its pages and read by the tests as
  // plain members, in the order the window declares them.
  QString m_strStatus;
  CSerialChannel m_serial;
  EdidReport m_report;
  int m_bSearching = 0;
  std::uint8_t m_bPortOpen = 0;
  int m_bReadBack = 0;
  std::array<std::uint8_t, 256> m_readBackBuffer{};
  std::string m_strFilePattern;
  std::string m_strLine;
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

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void OnInitDialog();
  void ShowLamp(bool lit);
  int OpenPort();
  QString ExplainOpenFailure() const;
  void EndSearch();
  bool TrySearchPort();
  void ReportNoDevice();
  void SendProbe();
  void SearchStep();
  void CompleteSearch();
  void ReadAddressFile();

  QComboBox* m_portList = nullptr;
  QLabel* m_lamp = nullptr;
  QPushButton* m_portButton = nullptr;
  QPushButton* m_searchButton = nullptr;
  res::CTabCtrl* m_tab = nullptr;
  QLabel* m_status = nullptr;
  CSettingsPage* m_settingsPage = nullptr;
  CEdidPage* m_edidPage = nullptr;
  bool m_bLampLit = false;
  // Qt timer ids by window timer id (0: not running).
  std::array<int, 8> m_timers{};
  std::array<int, 8> m_timerPeriods{};
  // What the running search met, for the operator if it finds nothing.
  std::vector<unsigned> m_searchSilent;
  std::vector<FailedOpen> m_searchFailures;
};

}  // namespace vantorq
