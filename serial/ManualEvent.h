#pragma once
// A manual-reset event that poll() can wait on, made from an eventfd:
// it stays signalled until reset, however many times it was set.

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
  // The zero-time-out test.
  bool IsSet() const;
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
};

}  // namespace vantorq
