#pragma once
// The "Settings" tab page: the device's 2K-to-4K enhancement level and its
// scaler mode, each a group of four buttons and a two-bit code on two lamps.

#include <QPixmap>
#include <QWidget>

class QButtonGroup;
class QLabel;

namespace vantorq {

class CSettingsPage final : public QWidget {
 public:
  explicit CSettingsPage(QWidget* tabControl);

  // The device reported a level (0..3) or a mode (1..4); nothing is sent.
  void SetEnhancementStatus(int value);
  void SetScalerStatus(int value);
  // A port opens: nothing is known of the device until it answers, and
  // nothing is shown as its.
  void ForgetDevice();

  void SendEnhancement(int index);
  void SendScalerMode(int index);

  // Takes both radio groups into the members (true) or shows them (false).
  void UpdateData(bool saveAndValidate);

  QButtonGroup* EnhancementGroup() const { return m_enhancementGroup; }
  QButtonGroup* ScalerGroup() const { return m_scalerGroup; }

  QLabel* m_lampEnhHigh = nullptr;
  QLabel* m_lampEnhLow = nullptr;
  QLabel* m_lampScalerHigh = nullptr;
  QLabel* m_lampScalerLow = nullptr;
  int m_nScalerMode = 0;
  int m_nEnhancement = 0;
  // What the device last reported, as the radio groups number it; -1 none.
  int m_nReportedScaler = -1;
  int m_nReportedEnhancement = -1;
  QPixmap m_hBitOn;
  QPixmap m_hBitOff;

 private:
  void OnInitDialog();
  void OnEnhancementClicked(int index);
  void OnScalerClicked(int index);
  void ShowCode(QLabel& high, QLabel& low, int code);
  // A click while the port is closed sends nothing and shows nothing as
  // done: the device's last reported choice stays selected. True then.
  bool RefusedWhileClosed();

  QButtonGroup* m_enhancementGroup = nullptr;
  QButtonGroup* m_scalerGroup = nullptr;
};

}  // namespace vantorq
