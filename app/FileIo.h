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

// Opens `path` with `flags` (O_RDONLY, O_RDWR) and never waits while
// opening; invalid with errno set when it cannot be opened.
CFileDescriptor OpenWithoutWaiting(const std::string& path, int flags);

bool IsRegularFile(int fd);

// Reads from the current position up to `limit` bytes into `bytes`;
// `more` tells whether the file went on beyond them. False on a read error.
bool ReadUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes, bool& more);

enum class WriteResult {
  Written,
  CreateFailed,  // could not be created
  Vanished,      // created, yet not found right after
  WriteFailed,   // writing or closing failed; the file has been removed
};

// Creates or truncates `path` and writes `bytes`. On failure `error`, when
// given, receives the errno value that said why.
WriteResult WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes,
                           int* error = nullptr);

}  // namespace vantorq
