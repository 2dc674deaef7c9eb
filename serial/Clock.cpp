#include "Clock.h"

#include <poll.h>

#include <cerrno>

#include "ManualEvent.h"

namespace vantorq {

namespace {

class CSystemClock final : public IClock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }

  bool WaitFor(const CManualEvent* event, std::chrono::microseconds span) override {
    const auto end = Now() + span;
    for (;;) {
      if (event != nullptr && event->IsSet()) return true;
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Now());
      if (left.count() <= 0) return false;
      // poll() counts in milliseconds; a wait shorter than one still waits one.
      const int ms = static_cast<int>((left.count() + 999) / 1000);
      pollfd p{event != nullptr ? event->Fd() : -1, POLLIN, 0};
      if (::poll(&p, 1, ms) < 0 && errno != EINTR) return event != nullptr && event->IsSet();
    }
  }
};

}  // namespace

std::shared_ptr<IClock> SystemClock() {
  static const auto clock = std::make_shared<CSystemClock>();
  return clock;
}

IClock::TimePoint CManualClock::Now() const {
  return TimePoint(std::chrono::steady_clock::duration(m_now.load()));
}

bool CManualClock::WaitFor(const CManualEvent* event, std::chrono::microseconds span) {
  if (event != nullptr && event->IsSet()) return true;
  Advance(span);
  return event != nullptr && event->IsSet();
}

void CManualClock::Advance(std::chrono::microseconds span) {
  m_now += std::chrono::duration_cast<std::chrono::steady_clock::duration>(span).count();
}

}  // namespace vantorq
