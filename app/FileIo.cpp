#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vantorq {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

CFileDescriptor::~CFileDescriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

CFileDescriptor::CFileDescriptor(CFileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

CFileDescriptor OpenWithoutWaiting(const std::string& path, int flags) {
  return CFileDescriptor(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

bool IsRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more) {
  bytes.resize(limit);
  std::size_t done = 0;
  while (done < limit) {
    const auto n = ::read(fd, bytes.data() + done, limit - done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      bytes.clear();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  more = false;
  if (done == limit) {
    std::uint8_t extra = 0;
    for (;;) {
      const auto n = ::read(fd, &extra, 1);
      if (n < 0 && errno == EINTR) continue;
      more = n > 0;
      break;
    }
  }
  return true;
}

WriteResult WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error) {
  int ignored = 0;
  int& why = error != nullptr ? *error : ignored;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    why = errno;
    return WriteResult::CreateFailed;
  }
  if (!FileExists(path)) {
    why = errno;
    ::close(fd);
    return WriteResult::Vanished;
  }
  // A full disk shows up at a write or at the close, and must not pass for
  // a written file.
  std::size_t done = 0;
  bool failed = false;
  while (done < bytes.size()) {
    const auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = n < 0 ? errno : ENOSPC;
      failed = true;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && !failed) {
    why = errno;
    failed = true;
  }
  if (!failed) return WriteResult::Written;
  ::unlink(path.c_str());
  return WriteResult::WriteFailed;
}

}  // namespace vantorq
