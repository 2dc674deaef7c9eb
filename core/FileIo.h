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
bool ReadUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more);

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

}  // namespace vantorq
