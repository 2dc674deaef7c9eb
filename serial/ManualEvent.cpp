#include "ManualEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vantorq {

CManualEvent::~CManualEvent() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CManualEvent::Create() {
  if (m_fd < 0) m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return m_fd >= 0;
}

void CManualEvent::Set() {
  m_set.store(true, std::memory_order_release);
  if (m_fd < 0) return;
  const std::uint64_t one = 1;
  // A full counter (never reached here) already means "signalled".
  [[maybe_unused]] auto n = ::write(m_fd, &one, sizeof one);
}

void CManualEvent::Reset() {
  m_set.store(false, std::memory_order_release);
  if (m_fd < 0) return;
  std::uint64_t value = 0;
  [[maybe_unused]] auto n = ::read(m_fd, &value, sizeof value);
}
}  // namespace vantorq
