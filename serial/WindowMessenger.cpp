#include "WindowMessenger.h"

#include <QThread>

namespace vantorq {

CWindowMessenger::CWindowMessenger() = default;

CWindowMessenger::~CWindowMessenger() { Abandon(); }

void CWindowMessenger::SetTarget(CSerialOwner* target) {
  std::lock_guard lock(m_mutex);
  m_target = target;
  m_abandoned = false;
}

void CWindowMessenger::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  const SerialNotification one{message, wParam};
  Send({&one, 1}, lParam);
}

void CWindowMessenger::Send(std::span<const SerialNotification> batch, std::intptr_t lParam) {
  if (batch.empty()) return;
  if (QThread::currentThread() == thread()) {
    // Already on the owner's thread: direct calls are the synchronous send.
    for (const SerialNotification& n : batch) {
      CSerialOwner* target = nullptr;
      {
        std::lock_guard lock(m_mutex);
        if (!m_abandoned) target = m_target;
      }
      if (target == nullptr) return;
      target->OnSerialNotify(n.message, n.wParam, lParam);
    }
    return;
  }
  std::unique_lock lock(m_mutex);
  const auto last = Enqueue(batch, lParam);
  if (last == 0) return;
  m_handledChanged.wait(lock, [&] { return m_handled >= last || m_abandoned; });
}

void CWindowMessenger::Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  const SerialNotification one{message, wParam};
  std::lock_guard lock(m_mutex);
  Enqueue({&one, 1}, lParam);
}

std::uint64_t CWindowMessenger::Enqueue(std::span<const SerialNotification> batch, std::intptr_t lParam) {
  if (m_abandoned || m_target == nullptr) return 0;
  ++m_handOvers;
  for (const SerialNotification& n : batch) m_queue.push_back({n.message, n.wParam, lParam, ++m_sent});
  // A dispatcher that is running (or already woken) will find them.
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
  return m_sent;
}

void CWindowMessenger::MarkHandled(std::uint64_t seq) {
  if (seq <= m_handled) return;
  m_handled = seq;
  m_handledChanged.notify_all();
}

int CWindowMessenger::DispatchPending() {
  int count = 0;
  std::unique_lock lock(m_mutex);
  ++m_dispatching;
  while (!m_queue.empty()) {
    const Message next = m_queue.front();
    m_queue.pop_front();
    CSerialOwner* target = m_target;
    const auto outer = m_inDispatch;
    m_inDispatch = m_queue.empty() ? next.seq : m_queue.back().seq;
    lock.unlock();
    if (target != nullptr) target->OnSerialNotify(next.message, next.wParam, next.lParam);
    lock.lock();
    m_inDispatch = outer;
    // The sender waits for its last notification only; the ones before
    // count as handled once it is.
    if (m_queue.empty()) MarkHandled(next.seq);
    ++count;
  }
  --m_dispatching;
  return count;
}

void CWindowMessenger::BeginStop() {
  std::lock_guard lock(m_mutex);
  m_abandoned = true;
  m_queue.clear();
  if (m_inDispatch > m_handled) m_handled = m_inDispatch;
  if (m_sent > m_handled) m_handled = m_sent;
  m_handledChanged.notify_all();
}

void CWindowMessenger::Abandon() {
  std::lock_guard lock(m_mutex);
  m_abandoned = true;
  m_target = nullptr;
  m_queue.clear();
  m_handledChanged.notify_all();
}

}  // namespace vantorq
