#include "EdidPage.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <QDir>
#include <QFileInfo>

#include "Commands.h"
#include "DialogBuilder.h"
#include "EdidDetailsDlg.h"
#include "EdidFile.h"
#include "OperatorDialogs.h"
#include "PageHost.h"
#include "ReadBackService.h"
#include "Resources.h"

namespace vantorq {

CEdidPage::CEdidPage(QWidget* tabControl) : QWidget(tabControl) {
  setObjectName(QStringLiteral("edidPage"));
  const auto controls = res::BuildDialog(*this, res::EdidDialog());
  m_presetGroup = controls.Group(res::ids::kPresetFirst);
  m_portGroup = controls.Group(res::ids::kInputPort);
  m_readButton = controls.As<QPushButton>(res::ids::kReadButton);
  m_loadButton = controls.As<QPushButton>(res::ids::kLoadButton);
  m_infoBox = controls.As<QPlainTextEdit>(res::ids::kBasicInfo);
  m_detailsButton = controls.As<QPushButton>(res::ids::kDetailsButton);
  m_detailsButton->setEnabled(false);
  m_detailsButton->setAccessibleName(QStringLiteral("Details of the last EDID"));
  m_detailsButton->setToolTip(QStringLiteral("The whole of the last EDID read back or loaded, with its file and its check"));
  m_lamps = {controls.As<QLabel>(res::ids::kLampBit3), controls.As<QLabel>(res::ids::kLampBit2),
             controls.As<QLabel>(res::ids::kLampBit1), controls.As<QLabel>(res::ids::kLampBit0)};

  res::ArrowsMoveWithin(*m_presetGroup);
  res::ArrowsMoveWithin(*m_portGroup);
  connect(m_presetGroup, &QButtonGroup::idClicked, this, [this](int i) { OnPresetClicked(i); });
  connect(m_readButton, &QPushButton::clicked, this, [this] { OnReadEdid(); });
  connect(m_loadButton, &QPushButton::clicked, this, [this] { OnLoadEdid(); });
  connect(m_detailsButton, &QPushButton::clicked, this, [this] { OnDetails(); });

  UpdateData(false);
  m_hLampOn = res::IconPixmap(res::ids::kIconLampOn);
  m_hLampOff = res::IconPixmap(res::ids::kIconLampOff);
  for (int i = 0; i < 4; ++i) {
    const int bit = 3 - i;
    const QString name = QStringLiteral("preset bit %1: ").arg(bit);
    res::DescribeLamp(*m_lamps[static_cast<std::size_t>(i)], name + "0", name + "1",
                      QStringLiteral("Bit %1 (value %2) of the preset number").arg(bit).arg(1 << bit));
  }
  // The form's two group frames have no caption; a screen reader still
  // says which group a button belongs to.
  m_presetGroup->button(0)->parentWidget()->setAccessibleName(QStringLiteral("EDID preset of input 1"));
  m_portGroup->button(0)->parentWidget()->setAccessibleName(QStringLiteral("Port to read the EDID from"));
  m_infoBox->setAccessibleName(QStringLiteral("Basic EDID information"));
  m_infoBox->setAccessibleDescription(
      QStringLiteral("The summary of the last EDID read back; its tooltip says whether the EDID checks out"));
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

void CEdidPage::SetDetails(const QString& text) {
  m_strDetails = text;
  m_detailsButton->setEnabled(!text.isEmpty());
  if (m_details != nullptr) m_details->SetText(text);
}

void CEdidPage::OnDetails() {
  if (m_strDetails.isEmpty()) return;
  if (m_details == nullptr) m_details = new CEdidDetailsDlg(this);
  m_details->SetText(m_strDetails);
  m_details->show();
  m_details->raise();
  m_details->activateWindow();
}

void CEdidPage::ShowLamps(int preset) {
  for (int i = 0; i < 4; ++i) {
    const int bit = 3 - i;
    res::ShowLamp(*m_lamps[static_cast<std::size_t>(i)], ((preset >> bit) & 1) != 0, m_hLampOn,
                  m_hLampOff);
  }
}

void CEdidPage::ForgetDevice() {
  m_nPreset = m_nReported = -1;
  ShowLamps(0);
  UpdateData(false);
}

void CEdidPage::SetEdidStatus(int preset) {
  m_nPreset = m_nReported = preset;
  ShowLamps(preset);
  UpdateData(false);
}

void CEdidPage::SendEdidPreset(int preset) { SendFromPage(this, protocol::PresetCommand(preset)); }

void CEdidPage::OnReadEdid() {
  UpdateData(true);
  const ReadBackRequest request = PlanReadBack(m_nPortChoice, m_nPreset);
  switch (request.kind) {
    case ReadBackRequest::Kind::NeedPort:
      ShowMessage(this, QStringLiteral("Please select the target port first"));
      return;
    case ReadBackRequest::Kind::NeedPreset:
      // An input read names a preset; with none selected there is no
      // command to send and nothing to wait for.
      ShowMessage(this, QStringLiteral("Please select the EDID preset first"));
      return;
    case ReadBackRequest::Kind::Send:
      break;
  }
  SendFromPage(this, request.Command());
  // Awaited even when nothing was sent: the port may be closed (opening
  // one forgets the wait).
  if (CPageHost* host = CPageHost::Of(this)) host->AwaitReadBack(request.pattern);
}

void CEdidPage::OnLoadEdid() {
  const QString path = OperatorDialogs().OpenFileName(
      this, QStringLiteral("bin file(*.bin)|*.bin|all file(*.*)|*.*||"), QDir::currentPath());
  if (path.isEmpty()) return;
  UpdateData(false);
  EdidBuffer edid{};
  std::vector<std::uint8_t> read;
  switch (LoadEdidFile(path.toStdString(), edid, &read)) {
    case LoadResult::ReadFailed:
      ShowMessage(this, QStringLiteral("File read failed"));
      return;
    case LoadResult::NotBin:
      ShowMessage(this, QStringLiteral("It is not bin file"));
      return;
    case LoadResult::NotEdid:
      ShowMessage(this, QStringLiteral("It is not an EDID file: nothing was sent to the device."),
                  QString::fromStdString(DescribeNotEdid(QFileInfo(path).fileName().toStdString(), read)));
      return;
    case LoadResult::Loaded:
      break;
  }
  // Its whole, before it is written: what the operator is about to put
  // into the unit.
  SetDetails(QString::fromStdString(EdidDetailsText(read, "Loaded from: " + QFileInfo(path).absoluteFilePath().toStdString())));
  CPageHost* host = CPageHost::Of(this);
  const auto shown = [this](const UserEdidOutcome& outcome) {
    using Kind = UserEdidOutcome::Kind;
    const QString text = QString::fromStdString(outcome.text);
    switch (outcome.kind) {
      case Kind::Verified:
      case Kind::Unchecked:
        ShowMessage(this, QStringLiteral("Note: EDID data is just saved to user define buffer. If want to use "
                                         "this EDID, need to set the EDID to User_EDID."),
                    text);
        break;
      case Kind::Differs:
        ShowMessage(this, text, QStringLiteral("Load the file again; if the unit still differs, its user EDID "
                                               "buffer may be faulty."));
        break;
      case Kind::Unverified:
        ShowMessage(this, text, QStringLiteral("All 790 bytes left the line. Read preset 15 back to check it, "
                                               "or load the file again."));
        break;
      case Kind::NotWritten:
        ShowMessage(this, QStringLiteral("The EDID was not written to the device."),
                    text + QStringLiteral(" Check the cable and the port, then load the file again."));
        break;
    }
    UpdateData(false);
  };
  // The note waits for the unit's own copy: only an EDID that left whole
  // and reads back the same is in the device's buffer.
  if (host == nullptr || !host->PortOpen() || !host->WriteUserEdid(edid, shown)) {
    // The note would claim the device has the EDID; it has nothing.
    ShowMessage(this, QStringLiteral("The port is not open: the EDID was not sent to the device."),
                QStringLiteral("Turn on the port (or search for the device), then load the file again."));
    UpdateData(false);
  }
}

void CEdidPage::OnPresetClicked(int index) {
  if (CPageHost* host = CPageHost::Of(this); host != nullptr && !host->PortOpen()) {
    // Nothing goes out, so nothing is shown as done: no lamp, and the
    // device's last reported preset stays selected.
    m_nPreset = m_nReported;
    UpdateData(false);
    host->SayNothingSent();
    return;
  }
  UpdateData(true);
  ShowLamps(index);
  SendEdidPreset(m_nPreset);
  UpdateData(false);
}

}  // namespace vantorq
