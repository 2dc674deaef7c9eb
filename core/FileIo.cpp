#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <utility>

namespace vantorq {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
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

bool IsRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

CFileDescriptor OpenNameOnly(const std::string& path) {
  return CFileDescriptor(::open(path.c_str(), O_PATH | O_CLOEXEC));
}

CFileDescriptor ReopenRegular(const CFileDescriptor& name, int flags) {
  if (!name) return {};
  if (!IsRegularFile(name.Get())) {
    errno = EINVAL;
    return {};
  }
  // The very file the name led to, whatever the name leads to by now.
  const std::string self = "/proc/self/fd/" + std::to_string(name.Get());
  return CFileDescriptor(::open(self.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

CFileDescriptor OpenRegularFile(const std::string& path, int flags) { return ReopenRegular(OpenNameOnly(path), flags); }

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

namespace {

// Writes all of `bytes` and closes `fd`; false with `why` set otherwise.
bool WriteAndClose(int fd, std::span<const std::uint8_t> bytes, int& why) {
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
  return !failed;
}

int OpenNew(const std::string& path) {
  // O_EXCL never follows a link, nor opens what is already there.
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

}  // namespace

WriteResult CreateNewFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error) {
  int ignored = 0;
  int& why = error != nullptr ? *error : ignored;
  const int fd = OpenNew(path);
  if (fd < 0) {
    why = errno;
    return WriteResult::CreateFailed;
  }
  if (!FileExists(path)) {
    why = errno;
    ::close(fd);
    return WriteResult::Vanished;
  }
  if (WriteAndClose(fd, bytes, why)) return WriteResult::Written;
  // Ours alone: made exclusively a moment ago.
  ::unlink(path.c_str());
  return WriteResult::WriteFailed;
}

bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error) {
  int ignored = 0;
  int& why = error != nullptr ? *error : ignored;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x~", static_cast<unsigned>(random()));
    const std::string temp = path + suffix;
    const int fd = OpenNew(temp);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      why = errno;
      return false;
    }
    if (WriteAndClose(fd, bytes, why)) {
      if (::rename(temp.c_str(), path.c_str()) == 0) return true;
      why = errno;
    }
    ::unlink(temp.c_str());
    return false;
  }
  why = EEXIST;
  return false;
}

}  // namespace vantorq
