#include "EdidPage.h"

namespace vantorq {

CEdidPage::CEdidPage(QWidget* tabControl) : QWidget(tabControl) {
  setObjectName(QStringLiteral("edidPage"));
}

}  // namespace vantorq
