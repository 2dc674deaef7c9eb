#pragma once
// The "Settings" tab page.

#include <QWidget>

namespace vantorq {

class CSettingsPage final : public QWidget {
 public:
  explicit CSettingsPage(QWidget* tabControl);
};

}  // namespace vantorq
