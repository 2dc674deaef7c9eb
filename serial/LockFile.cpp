#include "LockFile.h"

#include "Trace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vantorq {

namespace {

bool WritableDir(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK) == 0;
}

// The process id in a lock file: ASCII (the usual form, blanks allowed) or
// a 4-byte binary int (the oldest form). 0 when the file says nothing.
pid_t ReadOwner(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  std::array<char, 32> buf{};
  const auto n = ::read(fd, buf.data(), buf.size() - 1);
  ::close(fd);
  if (n <= 0) return 0;
  if (n == 4) {
    std::int32_t binary = 0;
    std::memcpy(&binary, buf.data(), 4);
    if (binary > 0 && (buf[0] < ' ' || buf[0] > '~')) return binary;
  }
  char* end = nullptr;
  const long pid = std::strtol(buf.data(), &end, 10);
  return end != buf.data() && pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

std::string Describe(pid_t pid) {
  std::string holder = "PID " + std::to_string(pid);
  char comm[64] = {};
  if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re")) {
    if (std::fgets(comm, sizeof comm, f) != nullptr) {
      comm[std::strcspn(comm, "\n")] = '\0';
      // Any user may name a process: what it is called is not ours to
      // write raw onto a terminal.
      if (comm[0] != '\0') holder += ", " + EscapeControls(comm);
    }
    std::fclose(f);
  }
  return holder;
}

}  // namespace

std::string UucpLockDir() {
  const char* env = std::getenv("VANTORQ_LOCK_DIR");
  if (env != nullptr && *env != '\0') return env;
  return WritableDir("/run/lock") || !WritableDir("/var/lock") ? "/run/lock" : "/var/lock";
}

std::string UucpLockName(const std::string& devicePath) {
  std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath;
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

CUucpLock::~CUucpLock() { Release(); }

CUucpLock::CUucpLock(CUucpLock&& other) noexcept : m_path(std::exchange(other.m_path, {})) {}

CUucpLock& CUucpLock::operator=(CUucpLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_path = std::exchange(other.m_path, {});
  }
  return *this;
}

int CUucpLock::Acquire(const std::string& path, std::string& holder) {
  char real[PATH_MAX];
  const std::string device = ::realpath(path.c_str(), real) != nullptr ? real : path;
  return AcquireName(UucpLockName(device), holder);
}

int CUucpLock::AcquireName(const std::string& name, std::string& holder) {
  Release();
  const std::string dir = UucpLockDir();
  const std::string file = dir + "/" + name;

  // Twice: a stale lock removed on the first pass is taken on the second.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const pid_t owner = ReadOwner(file);
    if (owner > 0 && Alive(owner)) {
      holder = Describe(owner);
      return EBUSY;
    }
    struct stat st {};
    if (owner == 0 && ::lstat(file.c_str(), &st) == 0 && ::time(nullptr) - st.st_mtime < 2) {
      // Just made by someone who has not written the id yet.
      holder = "lock file " + EscapeControls(file);
      return EBUSY;
    }
    if (owner > 0 || ::access(file.c_str(), F_OK) == 0) {
      // Left by a process that is gone (or unreadable): take it over, as
      // other serial programs do.
      if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        holder = "lock file " + EscapeControls(file);
        return errno == EACCES || errno == EPERM ? EBUSY : errno;
      }
    }
    if (!WritableDir(dir)) return 0;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return 0;  // a lock folder we may not write to locks nothing
    }
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool whole = ::write(fd, text, static_cast<std::size_t>(len)) == len;
    ::close(fd);
    if (!whole) {
      ::unlink(file.c_str());
      return 0;
    }
    m_path = file;
    return 0;
  }
  holder = "lock file " + EscapeControls(file);
  return EBUSY;
}

void CUucpLock::Release() {
  if (m_path.empty()) return;
  // Only our own: never remove a lock someone else has taken since.
  if (ReadOwner(m_path) == ::getpid()) ::unlink(m_path.c_str());
  m_path.clear();
}

}  // namespace vantorq
