#pragma once
// What a page needs of the main window. A page finds it as the parent of
// its parent (page, tab control, window).

#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "EdidBuffer.h"
#include "SerialChannel.h"
#include "UserEdidWrite.h"

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
  // Writes `edid` into the user EDID and reads it back to prove it kept;
  // `done` runs once that has ended, after the notification or byte that
  // ended it has been handled. False when nothing was sent (the port is
  // closed); `done` never runs then.
  virtual bool WriteUserEdid(EdidView edid, std::function<void(const UserEdidOutcome&)> done) = 0;
  // A choice was made while the port is closed (or a search runs): nothing
  // went out, and the window says so beside the port.
  virtual void SayNothingSent() = 0;

  static CPageHost* Of(QWidget* page) {
    QWidget* tab = page != nullptr ? page->parentWidget() : nullptr;
    QWidget* window = tab != nullptr ? tab->parentWidget() : nullptr;
    return dynamic_cast<CPageHost*>(window);
  }
};

// What every page sender does: the command goes out in one write, and only
// while the window shows the port as open. The write's ticket when it was
// handed to the channel, else 0.
inline WriteTicket SendFromPage(QWidget* page, std::span<const std::uint8_t> command) {
  CPageHost* host = CPageHost::Of(page);
  return host != nullptr && host->PortOpen() ? host->Serial().QueueWrite(command) : 0;
}

}  // namespace vantorq
