#pragma once
// Time as the monitor thread sees it while it waits for a write to leave
// the line. A test hands in a clock it can run ahead, so a stalled line
// times out without the test waiting for it.

#include <atomic>
#include <chrono>
#include <memory>

namespace vantorq {

class CManualEvent;

class IClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~IClock() = default;
  virtual TimePoint Now() const = 0;
  // Waits `span`, or less if `event` (when given) is or becomes set;
  // true when the event ended the wait.
  virtual bool WaitFor(const CManualEvent* event, std::chrono::microseconds span) = 0;
};

// The steady clock and real waits.
std::shared_ptr<IClock> SystemClock();

// A clock that only moves when someone waits on it: each wait moves it on
// by the span waited, at once.
class CManualClock final : public IClock {
 public:
  TimePoint Now() const override;
  bool WaitFor(const CManualEvent* event, std::chrono::microseconds span) override;
  void Advance(std::chrono::microseconds span);

 private:
  std::atomic<std::chrono::steady_clock::rep> m_now{0};
};

}  // namespace vantorq
