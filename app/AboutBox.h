#pragma once

#include <QDialog>

#include <functional>

namespace vantorq {

// The About box: the application icon, the version line and OK.
class CAboutBox final : public QDialog {
 public:
  explicit CAboutBox(QWidget* parent);
};

// The window's About item: X11 and Wayland give no system menu to extend,
// so a separator and the item (string 101, when it is not empty) go into
// the window's context menu. `open` runs when it is chosen.
void AddAboutItem(QWidget& window, const std::function<void()>& open);

}  // namespace vantorq
