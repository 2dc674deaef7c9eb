#include "StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vantorq {

std::array<bool, 3> GuardStandardStreams() {
  std::array<bool, 3> closed{};
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed[static_cast<std::size_t>(fd)] = true;
    // The lowest free number: this one, as the lower ones are open by now.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  return closed;
}

}  // namespace vantorq
