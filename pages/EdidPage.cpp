#include "EdidPage.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "Commands.h"
#include "DialogBuilder.h"
#include "PageHost.h"
#include "Resources.h"
#include "SerialChannel.h"

namespace vantorq {

CEdidPage::CEdidPage(QWidget* tabControl) : QWidget(tabControl) {
  setObjectName(QStringLiteral("edidPage"));
  const auto controls = res::BuildDialog(*this, res::EdidDialog());
  m_presetGroup = controls.Group(res::ids::kPresetFirst);
  m_portGroup = controls.Group(res::ids::kInputPort);
  m_readButton = controls.As<QPushButton>(res::ids::kReadButton);
  m_loadButton = controls.As<QPushButton>(res::ids::kLoadButton);
  m_infoBox = controls.As<QPlainTextEdit>(res::ids::kBasicInfo);
  m_lamps = {controls.As<QLabel>(res::ids::kLampBit3), controls.As<QLabel>(res::ids::kLampBit2),
             controls.As<QLabel>(res::ids::kLampBit1), controls.As<QLabel>(res::ids::kLampBit0)};

  connect(m_presetGroup, &QButtonGroup::idClicked, this, [this](int i) { OnPresetClicked(i); });

  UpdateData(false);
  m_hLampOn = res::IconPixmap(res::ids::kIconLampOn);
  m_hLampOff = res::IconPixmap(res::ids::kIconLampOff);
  ShowLamps(0);
}

void CEdidPage::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    m_nPreset = res::CheckedIndex(*m_presetGroup);
    m_nPortChoice = res::CheckedIndex(*m_portGroup);
    // The box is display only: what it holds is the state, never edited.
  } else {
    res::CheckIndex(*m_presetGroup, m_nPreset);
    res::CheckIndex(*m_portGroup, m_nPortChoice);
    QString shown = m_strBasicInfo;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (m_infoBox->toPlainText() != shown) m_infoBox->setPlainText(shown);
  }
}

void CEdidPage::ShowLamps(int preset) {
  for (int i = 0; i < 4; ++i) {
    const int bit = 3 - i;
    res::ShowLamp(*m_lamps[static_cast<std::size_t>(i)], ((preset >> bit) & 1) != 0, m_hLampOn,
                  m_hLampOff);
  }
}

void CEdidPage::SetEdidStatus(int preset) {
  m_nPreset = preset;
  ShowLamps(preset);
  UpdateData(false);
}

void CEdidPage::SendEdidPreset(int preset) {
  CPageHost* host = CPageHost::Of(this);
  const auto command = protocol::PresetCommand(preset);
  if (host != nullptr && host->PortOpen()) host->Serial().QueueWrite(command);
}

void CEdidPage::OnPresetClicked(int index) {
  UpdateData(true);
  ShowLamps(index);
  SendEdidPreset(m_nPreset);
  UpdateData(false);
}

}  // namespace vantorq
