#include "SettingsPage.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>

#include "Commands.h"
#include "DialogBuilder.h"
#include "PageHost.h"
#include "Resources.h"

namespace vantorq {

CSettingsPage::CSettingsPage(QWidget* tabControl) : QWidget(tabControl) {
  setObjectName(QStringLiteral("settingsPage"));
  const auto controls = res::BuildDialog(*this, res::SettingsDialog());
  m_lampEnhHigh = controls.As<QLabel>(res::ids::kLampEnhHigh);
  m_lampEnhLow = controls.As<QLabel>(res::ids::kLampEnhLow);
  m_lampScalerHigh = controls.As<QLabel>(res::ids::kLampScalerHigh);
  m_lampScalerLow = controls.As<QLabel>(res::ids::kLampScalerLow);
  m_enhancementGroup = controls.Group(res::ids::kEnhancementFirst);
  m_scalerGroup = controls.Group(res::ids::kScalerFirst);
  // Each radio group is one tab stop, the arrow keys move inside it and
  // Space chooses, as on the EDID page (the form made none a tab stop,
  // which left the page out of reach of the keyboard).
  res::ArrowsMoveWithin(*m_enhancementGroup);
  res::ArrowsMoveWithin(*m_scalerGroup);

  connect(m_enhancementGroup, &QButtonGroup::idClicked, this, [this](int i) { OnEnhancementClicked(i); });
  connect(m_scalerGroup, &QButtonGroup::idClicked, this, [this](int i) { OnScalerClicked(i); });
  OnInitDialog();
}

void CSettingsPage::OnInitDialog() {
  UpdateData(false);
  m_hBitOn = res::IconPixmap(res::ids::kIconBitOn);
  m_hBitOff = res::IconPixmap(res::ids::kIconLampOff);
  const struct {
    QLabel* lamp;
    const char* what;
    int bit;
  } lamps[] = {{m_lampEnhHigh, "enhancement", 1}, {m_lampEnhLow, "enhancement", 0},
               {m_lampScalerHigh, "scaler mode", 1}, {m_lampScalerLow, "scaler mode", 0}};
  for (const auto& l : lamps) {
    const QString name = QStringLiteral("%1 bit %2: ").arg(QLatin1String(l.what)).arg(l.bit);
    res::DescribeLamp(*l.lamp, name + "0", name + "1",
                      QStringLiteral("Bit %1 of the %2 code the device reports").arg(l.bit).arg(QLatin1String(l.what)));
  }
  for (QLabel* lamp : {m_lampEnhLow, m_lampEnhHigh, m_lampScalerLow, m_lampScalerHigh}) {
    res::ShowLamp(*lamp, false, m_hBitOn, m_hBitOff);
  }
}

void CSettingsPage::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    m_nScalerMode = res::CheckedIndex(*m_scalerGroup);
    m_nEnhancement = res::CheckedIndex(*m_enhancementGroup);
  } else {
    res::CheckIndex(*m_scalerGroup, m_nScalerMode);
    res::CheckIndex(*m_enhancementGroup, m_nEnhancement);
  }
}

void CSettingsPage::ShowCode(QLabel& high, QLabel& low, int code) {
  // Bits of the int as it is: a negative value shows its two's complement.
  res::ShowLamp(high, (code & 2) != 0, m_hBitOn, m_hBitOff);
  res::ShowLamp(low, (code & 1) != 0, m_hBitOn, m_hBitOff);
}

bool CSettingsPage::RefusedWhileClosed() {
  CPageHost* host = CPageHost::Of(this);
  if (host == nullptr || host->PortOpen()) return false;
  m_nEnhancement = m_nReportedEnhancement;
  m_nScalerMode = m_nReportedScaler;
  UpdateData(false);
  host->SayNothingSent();
  return true;
}

void CSettingsPage::ForgetDevice() {
  m_nEnhancement = m_nReportedEnhancement = -1;
  m_nScalerMode = m_nReportedScaler = -1;
  for (QLabel* lamp : {m_lampEnhLow, m_lampEnhHigh, m_lampScalerLow, m_lampScalerHigh}) {
    res::ShowLamp(*lamp, false, m_hBitOn, m_hBitOff);
  }
  UpdateData(false);
}

void CSettingsPage::OnEnhancementClicked(int index) {
  if (RefusedWhileClosed()) return;
  UpdateData(true);
  ShowCode(*m_lampEnhHigh, *m_lampEnhLow, index);
  SendEnhancement(m_nEnhancement);
  UpdateData(false);
}

void CSettingsPage::OnScalerClicked(int index) {
  if (RefusedWhileClosed()) return;
  UpdateData(true);
  ShowCode(*m_lampScalerHigh, *m_lampScalerLow, index);
  SendScalerMode(m_nScalerMode);
  UpdateData(false);
}

void CSettingsPage::SendEnhancement(int index) { SendFromPage(this, protocol::EnhancementCommand(index)); }

void CSettingsPage::SendScalerMode(int index) { SendFromPage(this, protocol::ScalerCommand(index)); }

void CSettingsPage::SetEnhancementStatus(int value) {
  m_nEnhancement = m_nReportedEnhancement = value;
  ShowCode(*m_lampEnhHigh, *m_lampEnhLow, value);
  UpdateData(false);
}

void CSettingsPage::SetScalerStatus(int value) {
  m_nScalerMode = m_nReportedScaler = value - 1;
  ShowCode(*m_lampScalerHigh, *m_lampScalerLow, value - 1);
  UpdateData(false);
}

}  // namespace vantorq
