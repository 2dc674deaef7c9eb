#include "WriteWaits.h"

namespace vantorq {

void CWriteWaits::Await(WriteTicket ticket, Done done) { m_waits.emplace_back(ticket, std::move(done)); }

void CWriteWaits::OnWritten(WriteTicket ticket, WriteOutcome outcome) {
  Resolve(ticket - 1, WriteOutcome::Replaced);
  Resolve(ticket, outcome);
}

void CWriteWaits::EndAll(WriteOutcome outcome) { Resolve(~WriteTicket{0}, outcome); }

void CWriteWaits::Resolve(WriteTicket upTo, WriteOutcome outcome) {
  // Taken out first: a callback may await a new write.
  std::vector<Done> ended;
  for (auto it = m_waits.begin(); it != m_waits.end();) {
    if (it->first > upTo) {
      ++it;
      continue;
    }
    ended.push_back(std::move(it->second));
    it = m_waits.erase(it);
  }
  for (auto& done : ended) {
    if (m_post) {
      m_post([done = std::move(done), outcome] { done(outcome); });
    } else {
      done(outcome);
    }
  }
}

}  // namespace vantorq
