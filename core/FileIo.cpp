#include "FileIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

int WaitReady(int fd, short events, int stopFd) {
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const int n = ::poll(p, stopFd >= 0 ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (stopFd >= 0 && (p[1].revents & POLLIN) != 0) return 0;
    if ((p[0].revents & POLLNVAL) != 0) {
      errno = EBADF;
      return -1;
    }
    if (p[0].revents != 0) return 1;
  }
}

namespace {

// One read that waits as long as it must, but no longer than `stopFd`
// allows: >= 0 the count, -1 an error (errno; EINTR when stopped).
ssize_t ReadSome(int fd, std::uint8_t* into, std::size_t size, int stopFd) {
  for (;;) {
    // Ready first: a FIFO opened without waiting reads as ended until its
    // writer comes, and poll() waits for that writer.
    const int ready = WaitReady(fd, POLLIN, stopFd);
    if (ready <= 0) {
      if (ready == 0) errno = EINTR;
      return -1;
    }
    const auto n = ::read(fd, into, size);
    if (n >= 0) return n;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

}  // namespace

bool ReadUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more, int stopFd) {
  // Grown as the input comes: the limit is far beyond most inputs, and
  // clearing it whole for a 256-byte file would cost more than the file.
  bytes.clear();
  std::size_t done = 0;
  while (done < limit) {
    if (bytes.size() == done) bytes.resize(std::min(limit, std::max<std::size_t>(4096, 2 * done)));
    const auto n = ReadSome(fd, bytes.data() + done, bytes.size() - done, stopFd);
    if (n == 0) break;
    if (n < 0) {
      bytes.clear();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  more = false;
  if (done == limit) {
    std::uint8_t extra = 0;
    const auto n = ReadSome(fd, &extra, 1, stopFd);
    if (n < 0) {
      bytes.clear();
      return false;
    }
    more = n > 0;
  }
  return true;
}

bool WriteAllTo(int fd, std::span<const std::uint8_t> bytes, int stopFd) {
  // Pieces no larger than a pipe takes at once: once the descriptor says
  // it is writable, a piece never blocks.
  constexpr std::size_t kPiece = 4096;
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (stopFd >= 0) {
      const int ready = WaitReady(fd, POLLOUT, stopFd);
      if (ready <= 0) {
        if (ready == 0) errno = EINTR;
        return false;
      }
    }
    const auto n = ::write(fd, bytes.data() + done, std::min(kPiece, bytes.size() - done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    const int ready = WaitReady(fd, POLLOUT, stopFd);
    if (ready <= 0) {
      if (ready == 0) errno = EINTR;
      return false;
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

namespace {

// Writes a new file beside `path` and renames it over `path`. With `like`,
// the new file takes that one's mode and group first; false (EPERM) when
// it cannot, and nothing is renamed then.
bool ReplaceBeside(const std::string& path, std::span<const std::uint8_t> bytes, const struct stat* like, int& why) {
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
    bool kept = true;
    if (like != nullptr) {
      kept = ::fchmod(fd, like->st_mode & 07777) == 0;
      struct stat made {};
      if (kept && ::fstat(fd, &made) == 0 && made.st_gid != like->st_gid) {
        kept = ::fchown(fd, static_cast<uid_t>(-1), like->st_gid) == 0 && ::fchmod(fd, like->st_mode & 07777) == 0;
      }
      if (!kept) why = errno;
    }
    if (!kept) {
      ::close(fd);
    } else if (WriteAndClose(fd, bytes, why)) {
      if (::rename(temp.c_str(), path.c_str()) == 0) return true;
      why = errno;
    }
    ::unlink(temp.c_str());
    return false;
  }
  why = EEXIST;
  return false;
}

bool IsStandardOutputName(std::string_view path) {
  return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

OutputResult Refused(std::string why) {
  OutputResult result;
  result.why = std::move(why);
  return result;
}

OutputResult Failed(int error) {
  OutputResult result;
  result.error = error;
  result.why = std::strerror(error);
  return result;
}

// Opens what a name leads to for writing, as it is: a FIFO waits for a
// reader (as long as `stopFd` allows).
int OpenExisting(const std::string& path, int stopFd) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 || errno != ENXIO) return fd;
    // A FIFO nobody reads yet.
    pollfd p{stopFd, POLLIN, 0};
    const int n = ::poll(&p, stopFd >= 0 ? 1 : 0, 50);
    if (n > 0) {
      errno = EINTR;
      return -1;
    }
  }
}

// Writes into an open descriptor of the kind given.
OutputResult WriteInto(int fd, const struct stat& st, std::span<const std::uint8_t> bytes, const OutputRules& rules) {
  if (S_ISDIR(st.st_mode)) return Refused("it is a folder");
  if (S_ISBLK(st.st_mode)) return Refused("it is a block device (a disk): nothing is written to it");
  if (S_ISSOCK(st.st_mode)) return Refused("it is a socket");
  if (rules.refuseTerminal && ::isatty(fd) != 0) {
    return Refused("it is a terminal, and these are binary bytes that a terminal would take as commands");
  }
  if (!WriteAllTo(fd, bytes, rules.stopFd)) return Failed(errno);
  if (S_ISREG(st.st_mode) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return Failed(errno);
  OutputResult result;
  result.written = true;
  return result;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error) {
  int ignored = 0;
  return ReplaceBeside(path, bytes, nullptr, error != nullptr ? *error : ignored);
}

OutputResult WriteOutput(const std::string& path, std::span<const std::uint8_t> bytes, const OutputRules& rules) {
  if (IsStandardOutputName(path)) {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) return Failed(errno);
    OutputResult result = WriteInto(STDOUT_FILENO, st, bytes, rules);
    result.standardOutput = true;
    return result;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Failed(errno);
    int why = 0;
    if (!ReplaceBeside(path, bytes, nullptr, why)) return Failed(why);
    OutputResult result;
    result.written = true;
    return result;
  }
  if (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid()) {
    // Whole or not at all: the old content stays until the new one is there.
    int why = 0;
    if (ReplaceBeside(path, bytes, &st, why)) {
      OutputResult result;
      result.written = true;
      return result;
    }
    if (why != EPERM) return Failed(why);
    // Its group is not ours to give: written in place instead.
  }
  if (S_ISLNK(st.st_mode)) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
      if (errno != ENOENT) return Failed(errno);
      return Refused("it is a link that leads nowhere; no file is made through it");
    }
    st = target;
  }
  if (S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) return WriteInto(-1, st, bytes, rules);
  const CFileDescriptor fd(OpenExisting(path, rules.stopFd));
  if (!fd) return Failed(errno);
  struct stat opened {};
  if (::fstat(fd.Get(), &opened) != 0) return Failed(errno);
  return WriteInto(fd.Get(), opened, bytes, rules);
}

}  // namespace vantorq
