#pragma once

#include <QDialog>

namespace vantorq {

// The About box: the application icon, the version line and OK.
class CAboutBox final : public QDialog {
 public:
  explicit CAboutBox(QWidget* parent);
};

}  // namespace vantorq
