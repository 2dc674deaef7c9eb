#pragma once
// A manual-reset event that poll() can wait on, made from an eventfd:
// it stays signalled until reset, however many times it was set.

#include <atomic>

namespace vantorq {

class CManualEvent {
 public:
  CManualEvent() = default;
  ~CManualEvent();
  CManualEvent(const CManualEvent&) = delete;
  CManualEvent& operator=(const CManualEvent&) = delete;

  // Creates the event in the not-signalled state; false if the system
  // refused one.
  bool Create();
  bool Exists() const { return m_fd >= 0; }
  void Set();
  void Reset();
  // The zero-time-out test. Made between every two received bytes, so it
  // reads a mirror of the state instead of asking the kernel.
  bool IsSet() const { return m_set.load(std::memory_order_acquire); }
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
  std::atomic<bool> m_set{false};
};

}  // namespace vantorq
