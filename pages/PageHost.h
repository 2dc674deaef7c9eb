#pragma once
// What a page needs of the main window. A page finds it as the parent of
// its parent (page, tab control, window).

#include <QWidget>

#include <cstdint>
#include <span>
#include <string>

#include "SerialChannel.h"

namespace vantorq {

class CPageHost {
 public:
  virtual ~CPageHost() = default;
  // The console shows the port as open: the only time pages send.
  virtual bool PortOpen() const = 0;
  virtual CSerialChannel& Serial() = 0;
  // A read reply is awaited: received lines go to the read-back receiver,
  // and the file it saves is named by `pattern` (see EdidFilePattern).
  virtual void AwaitReadBack(std::string pattern) = 0;

  static CPageHost* Of(QWidget* page) {
    QWidget* tab = page != nullptr ? page->parentWidget() : nullptr;
    QWidget* window = tab != nullptr ? tab->parentWidget() : nullptr;
    return dynamic_cast<CPageHost*>(window);
  }
};

// What every page sender does: the command goes out in one write, and only
// while the window shows the port as open. True when it was handed to the
// channel.
inline bool SendFromPage(QWidget* page, std::span<const std::uint8_t> command) {
  CPageHost* host = CPageHost::Of(page);
  return host != nullptr && host->PortOpen() && host->Serial().QueueWrite(command);
}

}  // namespace vantorq
