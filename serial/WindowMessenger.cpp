#include "WindowMessenger.h"

#include <QThread>

#include <algorithm>
#include <chrono>

namespace vantorq {

namespace {

// Both sides spin this long for the other before they sleep. During a
// burst each byte is then handed over in well under a microsecond instead
// of costing two thread wake-ups; an idle line costs nothing.
constexpr auto kSpin = std::chrono::microseconds(50);

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

template <class Done>
bool SpinFor(Done done) {
  const auto end = std::chrono::steady_clock::now() + kSpin;
  do {
    for (int i = 0; i < 64; ++i) {
      if (done()) return true;
      CpuRelax();
    }
  } while (std::chrono::steady_clock::now() < end);
  return done();
}

}  // namespace

CWindowMessenger::CWindowMessenger() = default;

CWindowMessenger::~CWindowMessenger() { Abandon(); }

void CWindowMessenger::SetTarget(CSerialOwner* target) {
  std::lock_guard lock(m_mutex);
  m_target = target;
  m_abandoned = false;
  m_abandonedFlag = false;
}

void CWindowMessenger::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (QThread::currentThread() == thread()) {
    // Already on the owner's thread: a direct call is the synchronous send.
    CSerialOwner* target = nullptr;
    {
      std::lock_guard lock(m_mutex);
      if (!m_abandoned) target = m_target;
    }
    if (target != nullptr) target->OnSerialNotify(message, wParam, lParam);
    return;
  }
  std::unique_lock lock(m_mutex);
  if (m_abandoned || m_target == nullptr) return;
  const auto seq = ++m_sent;
  m_queue.push_back({message, wParam, lParam, seq});
  m_sentFlag.store(seq, std::memory_order_release);
  // A dispatcher that is running (or already woken) will find the message.
  if (m_dispatching == 0 && !m_wakePosted) {
    m_wakePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          {
            std::lock_guard wake(m_mutex);
            m_wakePosted = false;
          }
          DispatchPending();
        },
        Qt::QueuedConnection);
  }
  lock.unlock();

  auto handled = [&] {
    return m_handledFlag.load(std::memory_order_acquire) >= seq ||
           m_abandonedFlag.load(std::memory_order_acquire);
  };
  if (SpinFor(handled)) return;
  lock.lock();
  ++m_waiters;
  m_handledChanged.wait(lock, [&] { return m_handled >= seq || m_abandoned; });
  --m_waiters;
}

void CWindowMessenger::MarkHandled(std::uint64_t seq) {
  if (seq <= m_handled) return;
  m_handled = seq;
  m_handledFlag.store(seq, std::memory_order_release);
  if (m_waiters > 0) m_handledChanged.notify_all();
}

int CWindowMessenger::DispatchPending() {
  int count = 0;
  std::unique_lock lock(m_mutex);
  ++m_dispatching;
  for (;;) {
    if (m_queue.empty()) {
      // Give the sender a moment to hand over the next one.
      lock.unlock();
      SpinFor([&] { return m_sentFlag.load(std::memory_order_acquire) > m_handled; });
      lock.lock();
      if (m_queue.empty()) break;
    }
    const Message next = m_queue.front();
    m_queue.pop_front();
    CSerialOwner* target = m_target;
    const auto outer = m_inDispatch;
    m_inDispatch = next.seq;
    lock.unlock();
    if (target != nullptr) target->OnSerialNotify(next.message, next.wParam, next.lParam);
    lock.lock();
    m_inDispatch = outer;
    MarkHandled(next.seq);
    ++count;
  }
  --m_dispatching;
  return count;
}

void CWindowMessenger::ReleaseSender() {
  std::lock_guard lock(m_mutex);
  if (m_inDispatch > m_handled) MarkHandled(m_inDispatch);
}

void CWindowMessenger::Abandon() {
  std::lock_guard lock(m_mutex);
  m_abandoned = true;
  m_abandonedFlag = true;
  m_target = nullptr;
  m_queue.clear();
  m_handledChanged.notify_all();
}

}  // namespace vantorq
