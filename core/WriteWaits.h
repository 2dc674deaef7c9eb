#pragma once
// Writes whose end someone waits for. The channel tells every write it
// took up; one replaced before it began is never told, and is known to be
// lost the moment a later one is told. The window and vantorq-ctl keep
// their awaited writes here, so that both read the channel alike.

#include <functional>
#include <utility>
#include <vector>

#include "WriteOutcome.h"

namespace vantorq {

class CWriteWaits {
 public:
  using Done = std::function<void(WriteOutcome)>;
  // `post` runs a finished wait's callback; the window posts it behind the
  // notification being handled, so that nothing holds the monitor.
  explicit CWriteWaits(std::function<void(std::function<void()>)> post = {}) : m_post(std::move(post)) {}

  // `done` runs once the write behind `ticket` has ended.
  void Await(WriteTicket ticket, Done done);
  // The channel told `ticket`'s outcome: older writes still awaited were
  // replaced before they began.
  void OnWritten(WriteTicket ticket, WriteOutcome outcome);
  // The port went: every write still awaited ends with `outcome`.
  void EndAll(WriteOutcome outcome);
  bool Empty() const { return m_waits.empty(); }

 private:
  void Resolve(WriteTicket upTo, WriteOutcome outcome);

  std::function<void(std::function<void()>)> m_post;
  std::vector<std::pair<WriteTicket, Done>> m_waits;  // oldest first
};

}  // namespace vantorq
