#pragma once
// The "EDID Management" tab page: the sixteen presets of input 1 with the
// preset's number on four lamps, the read-back target and its summary.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>

class QButtonGroup;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vantorq {

class CEdidDetailsDlg;

class CEdidPage final : public QWidget {
 public:
  explicit CEdidPage(QWidget* tabControl);

  // The device reported preset `preset`; nothing is sent.
  void SetEdidStatus(int preset);
  // A port opens: no preset is shown as the device's until it answers.
  void ForgetDevice();
  void SendEdidPreset(int preset);

  // "Read EDID data and save to file" and "Load EDID file and write to
  // input port user EDID".
  void OnReadEdid();
  void OnLoadEdid();

  // Takes every control into the state (true) or shows the state (false).
  void UpdateData(bool saveAndValidate);

  // The whole of the last EDID read back or loaded, for "Details…" (and
  // its window, when open).
  void SetDetails(const QString& text);
  void OnDetails();
  QPushButton* DetailsButton() const { return m_detailsButton; }
  CEdidDetailsDlg* DetailsWindow() const { return m_details; }

  QButtonGroup* PresetGroup() const { return m_presetGroup; }
  QButtonGroup* PortGroup() const { return m_portGroup; }
  QPushButton* ReadButton() const { return m_readButton; }
  QPushButton* LoadButton() const { return m_loadButton; }
  QPlainTextEdit* InfoBox() const { return m_infoBox; }
  // The lamps left to right: bits 3, 2, 1, 0 of the preset number.
  const std::array<QLabel*, 4>& Lamps() const { return m_lamps; }

  int m_nPreset = -1;      // 0..15, or -1 for none
  int m_nReported = -1;    // the preset the device last reported, or -1
  int m_nPortChoice = -1;  // 0 input, 1 output, -1 neither
  QString m_strBasicInfo;
  QPixmap m_hLampOn;
  QPixmap m_hLampOff;

 private:
  void OnPresetClicked(int index);
  void ShowLamps(int preset);

  QButtonGroup* m_presetGroup = nullptr;
  QButtonGroup* m_portGroup = nullptr;
  QPushButton* m_readButton = nullptr;
  QPushButton* m_loadButton = nullptr;
  QPlainTextEdit* m_infoBox = nullptr;
  QPushButton* m_detailsButton = nullptr;
  CEdidDetailsDlg* m_details = nullptr;  // made at the first "Details…"
  QString m_strDetails;
  std::array<QLabel*, 4> m_lamps{};
};

}  // namespace vantorq
