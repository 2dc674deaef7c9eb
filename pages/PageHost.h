#pragma once
// What a page needs of the main window. A page finds it as the parent of
// its parent (page, tab control, window).

#include <QWidget>

namespace vantorq {

class CSerialChannel;

class CPageHost {
 public:
  virtual ~CPageHost() = default;
  // The console shows the port as open: the only time pages send.
  virtual bool PortOpen() const = 0;
  virtual CSerialChannel& Serial() = 0;

  static CPageHost* Of(QWidget* page) {
    QWidget* tab = page != nullptr ? page->parentWidget() : nullptr;
    QWidget* window = tab != nullptr ? tab->parentWidget() : nullptr;
    return dynamic_cast<CPageHost*>(window);
  }
};

}  // namespace vantorq
