#include "SettingsPage.h"

namespace vantorq {

CSettingsPage::CSettingsPage(QWidget* tabControl) : QWidget(tabControl) {
  setObjectName(QStringLiteral("settingsPage"));
}

}  // namespace vantorq
