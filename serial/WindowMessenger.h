#pragma once
// Synchronous delivery of notifications from a worker thread to an owner
// on the user-interface thread: the sender waits until the owner has
// handled what it sent, so everything the owner does happens on its own
// thread, one notification at a time, in the order sent.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>

namespace vantorq {

// The receiving side: the owner window of a serial channel.
class CSerialOwner {
 public:
  virtual ~CSerialOwner() = default;
  virtual void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

struct SerialNotification {
  unsigned message;
  std::uintptr_t wParam;
};

class CWindowMessenger final : public QObject {
 public:
  // Lives on the thread that constructs it; that is where owners are called.
  CWindowMessenger();
  ~CWindowMessenger() override;

  // User-interface thread. A null target drops deliveries.
  void SetTarget(CSerialOwner* target);

  // Any other thread: hands the notifications over and waits until the
  // target has handled every one, each on its own and in order, or until
  // BeginStop() or Abandon() lets the sender go. One hand-over costs two
  // thread wake-ups however many notifications it carries.
  void Send(std::span<const SerialNotification> batch, std::intptr_t lParam);
  void Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  // Any other thread: hands one notification over, in order with the
  // rest, and returns without waiting for it to be handled.
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  // User-interface thread: handles every notification waiting now and
  // returns how many. This is the "dispatch waiting messages" of a thread
  // that must wait for a sender to notice something.
  int DispatchPending();

  // User-interface thread: the sender is being stopped. Notifications not
  // yet handled are dropped, their sender is let go (also one whose
  // notification is being handled further up this thread's stack), and
  // later sends return at once, until the next SetTarget.
  void BeginStop();

  // User-interface thread: the target is going away. Waiting and later
  // senders return at once and nothing more is delivered.
  void Abandon();

  // How many hand-overs have been made.
  std::uint64_t HandOvers() const { return m_handOvers.load(); }

 private:
  struct Message {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::uint64_t seq;
  };

  void MarkHandled(std::uint64_t seq);
  // Queues the notifications (lock held) and wakes the owner's thread;
  // the sequence number of the last, or 0 when nothing may be sent.
  std::uint64_t Enqueue(std::span<const SerialNotification> batch, std::intptr_t lParam);

  std::mutex m_mutex;
  std::condition_variable m_handledChanged;
  std::deque<Message> m_queue;
  std::uint64_t m_sent = 0;
  std::uint64_t m_handled = 0;
  // The last notification of the hand-over being handled, if any: what
  // BeginStop marks as handled when it runs inside one of its handlers.
  std::uint64_t m_inDispatch = 0;
  int m_dispatching = 0;
  bool m_wakePosted = false;
  bool m_abandoned = false;  // also set while stopping
  CSerialOwner* m_target = nullptr;
  std::atomic<std::uint64_t> m_handOvers{0};
};

}  // namespace vantorq
