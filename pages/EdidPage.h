#pragma once
// The "EDID Management" tab page.

#include <QWidget>

namespace vantorq {

class CEdidPage final : public QWidget {
 public:
  explicit CEdidPage(QWidget* tabControl);
};

}  // namespace vantorq
