#pragma once
// Synchronous delivery of notifications from a worker thread to an owner
// on the user-interface thread: the sender waits until the owner has
// handled each one, so everything the owner does happens on its own
// thread, one notification at a time, in the order sent.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace vantorq {

// The receiving side: the owner window of a serial channel.
class CSerialOwner {
 public:
  virtual ~CSerialOwner() = default;
  virtual void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

class CWindowMessenger final : public QObject {
 public:
  // Lives on the thread that constructs it; that is where owners are called.
  CWindowMessenger();
  ~CWindowMessenger() override;

  // User-interface thread. A null target drops deliveries.
  void SetTarget(CSerialOwner* target);

  // Any other thread: hands the notification over and waits until the
  // target has handled it, or until Abandon() lets every sender go.
  void Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  // User-interface thread: handles every notification waiting now and
  // returns how many. This is the "dispatch waiting messages" of a thread
  // that must wait for a sender to notice something.
  int DispatchPending();

  // User-interface thread: when a notification is being handled further up
  // this thread's stack (a nested event loop, a modal box), its sender can
  // never be released by returning. This lets it go early.
  void ReleaseSender();

  // User-interface thread: the target is going away. Waiting and later
  // senders return at once and nothing more is delivered.
  void Abandon();

 private:
  struct Message {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::uint64_t seq;
  };

  void MarkHandled(std::uint64_t seq);

  std::mutex m_mutex;
  std::condition_variable m_handledChanged;
  std::deque<Message> m_queue;
  std::uint64_t m_sent = 0;
  std::uint64_t m_handled = 0;
  std::uint64_t m_inDispatch = 0;
  int m_dispatching = 0;
  int m_waiters = 0;
  bool m_wakePosted = false;
  bool m_abandoned = false;
  // Mirrors of m_sent, m_handled and m_abandoned that the spinning side
  // reads without the lock.
  std::atomic<std::uint64_t> m_sentFlag{0};
  std::atomic<std::uint64_t> m_handledFlag{0};
  std::atomic<bool> m_abandonedFlag{false};
  CSerialOwner* m_target = nullptr;
};

}  // namespace vantorq
