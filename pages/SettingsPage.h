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
  QPixmap m_hBitOn;
  QPixmap m_hBitOff;

 private:
  void OnInitDialog();
  void OnEnhancementClicked(int index);
  void OnScalerClicked(int index);
  void ShowCode(QLabel& high, QLabel& low, int code);

  QButtonGroup* m_enhancementGroup = nullptr;
  QButtonGroup* m_scalerGroup = nullptr;
};

}  // namespace vantorq
