#pragma once
// The console's few file operations, each checked at every step: reading
// never blocks on what is not a regular file (a FIFO would wait for a
// writer for ever), and writing never leaves half a file behind.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantorq {

// Whether the folder has an entry of that name: a link counts, even one
// that leads nowhere, so that no name is ever created through it.
bool FileExists(const std::string& path);

// An open descriptor, closed when it goes.
class CFileDescriptor {
 public:
  CFileDescriptor() = default;
  explicit CFileDescriptor(int fd) : m_fd(fd) {}
  ~CFileDescriptor();
  CFileDescriptor(CFileDescriptor&& other) noexcept;
  CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;
  int Get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

bool IsRegularFile(int fd);

// Opens the regular file `path` names (a link to one is followed) with
// `flags`, without opening anything else on the way: a device, a FIFO or a
// folder behind the name is never opened for real. Invalid with errno set
// (EINVAL for what is not a regular file) otherwise.
CFileDescriptor OpenRegularFile(const std::string& path, int flags);

// A name opened without opening what it names (O_PATH): enough to learn
// what it is, and to open it for real once it is known to be a file.
CFileDescriptor OpenNameOnly(const std::string& path);
CFileDescriptor ReopenRegular(const CFileDescriptor& name, int flags);

// Reads from the current position up to `limit` bytes into `bytes`;
// `more` tells whether the file went on beyond them. False on a read error.
// A pipe, a FIFO or a terminal may keep it waiting: once `stopFd` (when
// given) is readable it gives up, false with errno EINTR.
bool ReadUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more, int stopFd = -1);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT); 1 when it is
// (or has hung up), 0 when `stopFd` became readable first, -1 on an error.
int WaitReady(int fd, short events, int stopFd);

// Writes every byte to `fd`, waiting as a pipe or a terminal needs; false
// with errno set otherwise (EINTR: `stopFd` became readable).
bool WriteAllTo(int fd, std::span<const std::uint8_t> bytes, int stopFd = -1);

enum class WriteResult {
  Written,
  CreateFailed,  // could not be created (EEXIST: the name is taken)
  Vanished,      // created, yet not found right after
  WriteFailed,   // writing or closing failed; the file has been removed
};

// Creates `path` as a new file and writes `bytes`. The name must be free:
// an existing file or any link, one that leads nowhere included, is never
// opened, followed or truncated. On failure `error`, when given, receives
// the errno value that said why.
WriteResult CreateNewFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error = nullptr);

// Writes `bytes` into a new file beside `path` and renames it over `path`:
// whatever `path` was (a file, a link) stays whole until the new content is.
bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes, int* error = nullptr);

struct OutputRules {
  int stopFd = -1;              // readable: stop waiting for a reader
  bool refuseTerminal = false;  // binary bytes: never onto a terminal
};

struct OutputResult {
  bool written = false;
  bool standardOutput = false;  // it went to standard output
  int error = 0;                // errno when a call failed
  std::string why;              // the reason, in the operator's words
};

// Writes `bytes` to what `path` names, keeping what is there:
//  - "-" (and /dev/stdout, /dev/fd/1): standard output;
//  - no entry yet: a new file, written beside and renamed into place;
//  - a regular file of ours with no other hard link: written beside,
//    given its mode and group, and renamed over it;
//  - another regular file, or one reached through a link: written into
//    in place, so that its links, owner and mode stay;
//  - a character device (/dev/null, a terminal) or a FIFO: written into
//    as it is (a FIFO waits for its reader);
//  - a folder, a block device, a socket, a link that leads nowhere:
//    refused, with the reason. Nothing is ever replaced by a file but a
//    regular file.
OutputResult WriteOutput(const std::string& path, std::span<const std::uint8_t> bytes, const OutputRules& rules = {});

}  // namespace vantorq
