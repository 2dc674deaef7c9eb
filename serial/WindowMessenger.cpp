#include "WindowMessenger.h"

#include <QThread>

#include <algorithm>

namespace vantorq {

CWindowMessenger::CWindowMessenger() = default;

CWindowMessenger::~CWindowMessenger() { Abandon(); }

void CWindowMessenger::SetTarget(CSerialOwner* target) {
  std::lock_guard lock(m_mutex);
  m_target = target;
  m_abandoned = false;
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
  if (!m_wakePosted) {
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
  m_handledChanged.wait(lock, [&] { return m_handled >= seq || m_abandoned; });
}

int CWindowMessenger::DispatchPending() {
  int count = 0;
  std::unique_lock lock(m_mutex);
  while (!m_queue.empty()) {
    const Message next = m_queue.front();
    m_queue.pop_front();
    CSerialOwner* target = m_target;
    const auto outer = m_inDispatch;
    m_inDispatch = next.seq;
    lock.unlock();
    if (target != nullptr) target->OnSerialNotify(next.message, next.wParam, next.lParam);
    lock.lock();
    m_inDispatch = outer;
    m_handled = std::max(m_handled, next.seq);
    m_handledChanged.notify_all();
    ++count;
  }
  return count;
}

void CWindowMessenger::ReleaseSender() {
  std::lock_guard lock(m_mutex);
  if (m_inDispatch > m_handled) {
    m_handled = m_inDispatch;
    m_handledChanged.notify_all();
  }
}

void CWindowMessenger::Abandon() {
  std::lock_guard lock(m_mutex);
  m_abandoned = true;
  m_target = nullptr;
  m_queue.clear();
  m_handledChanged.notify_all();
}

}  // namespace vantorq
