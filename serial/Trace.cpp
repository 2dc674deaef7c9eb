#include "Trace.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace vantorq {

namespace {

// Writes all of `text`; false when the descriptor refuses it for good.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const auto n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The queue between the console's threads and the one that writes.
struct ErrorLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  std::size_t capacity = 0;
  std::size_t dropped = 0;
  bool writing = false;
  bool ended = false;
  int fd = 2;

  // Said where the lines were lost, before the next one.
  std::string DroppedNote() {
    std::string note = ProgramName() + ": " + std::to_string(dropped) + " log lines dropped: standard error was not read\n";
    dropped = 0;
    return note;
  }

  void Run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return !lines.empty() || dropped > 0; });
      std::string text;
      if (lines.empty()) {
        text = DroppedNote();
      } else {
        text = std::move(lines.front());
        lines.pop_front();
      }
      writing = true;
      lock.unlock();
      const bool ok = WriteAll(fd, text);
      const int why = errno;
      lock.lock();
      writing = false;
      changed.notify_all();
      if (!ok) {
        // The reader is gone: the log ends here, with one note for
        // whoever may still see it, and nothing is queued any more.
        ended = true;
        lines.clear();
        dropped = 0;
        lock.unlock();
        WriteAll(fd, ProgramName() + ": log ended: standard error failed (" + std::strerror(why) + ")\n");
        return;
      }
    }
  }
};

// Shared with the writer thread, which is never joined: at exit it may be
// blocked on a reader that does not read, and must not hold the exit up.
std::mutex g_logMutex;
std::shared_ptr<ErrorLog> g_log;

std::shared_ptr<ErrorLog> Log() {
  std::lock_guard lock(g_logMutex);
  return g_log;
}

}  // namespace

namespace {
std::string g_programName = "vantorq";
}  // namespace

const std::string& ProgramName() { return g_programName; }
void SetProgramName(std::string_view name) { g_programName = std::string(name); }

bool TraceEnabled() {
  const char* value = std::getenv("VANTORQ_TRACE");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

namespace {

char32_t DecodeUtf8(std::string_view c) {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(c[k])); };
  if (c.size() == 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  if (c.size() == 3) return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
}

bool Invisible(char32_t c) {
  return c == 0xAD || c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char b) {
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02x", b);
    out += code;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      escape(b);
      ++i;
      continue;
    }
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // UTF-8 passes whole; C1 controls (U+0080..U+009F) and broken
    // sequences do not.
    const std::size_t length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (valid && length == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) valid = false;
    if (!valid) {
      escape(b);
      ++i;
      continue;
    }
    const char32_t code = DecodeUtf8(text.substr(i, length));
    if (Invisible(code)) {
      // A byte-order mark, a zero-width or a direction mark: shown, not
      // obeyed, so that a quoted name reads as what it holds.
      char shown[16];
      std::snprintf(shown, sizeof shown, "\\u%04X", static_cast<unsigned>(code));
      out += shown;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string Excerpt(std::string_view text, std::size_t limit, char quote) {
  const std::string q(1, quote);
  if (text.size() <= limit) return q + EscapeControls(text) + q;
  std::size_t cut = limit;
  // Not inside a character.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return q + EscapeControls(text.substr(0, cut)) + q + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string TraceText(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes,
                      std::string_view note) {
  std::string text = "COM" + std::to_string(port) + (direction == TraceDirection::Sent ? " -> \"" : " <- \"");
  for (std::uint8_t b : bytes) {
    if (b == '\r') {
      text += "\\r";
    } else if (b == '\n') {
      text += "\\n";
    } else if (b == '"' || b == '\\') {
      text += '\\';
      text += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      text += escaped;
    }
  }
  text += "\" ";
  for (std::uint8_t b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02x", b);
    text += pair;
  }
  if (!note.empty()) text += " (" + std::string(note) + ")";
  return text;
}

void Trace(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes, std::string_view note) {
  if (!TraceEnabled()) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03lld ", static_cast<long long>(ms));
  WriteErrorLine(ProgramName() + ": " + stamp + millis + TraceText(direction, port, bytes, note));
}

void WriteErrorLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  const auto log = Log();
  if (!log) {
    // One call, so that lines of the two threads never interleave.
    WriteAll(2, text);
    return;
  }
  {
    std::lock_guard lock(log->mutex);
    if (log->ended) return;
    if (log->lines.size() >= log->capacity) {
      ++log->dropped;
      return;
    }
    if (log->dropped > 0) log->lines.push_back(log->DroppedNote());
    log->lines.push_back(std::move(text));
  }
  log->changed.notify_all();
}

void StartBackgroundErrorLog(int fd, std::size_t capacity) {
  auto log = std::make_shared<ErrorLog>();
  log->fd = fd;
  log->capacity = capacity;
  std::thread([log] { log->Run(); }).detach();
  std::lock_guard lock(g_logMutex);
  g_log = std::move(log);
}

void FlushErrorLog(std::chrono::milliseconds limit) {
  const auto log = Log();
  if (!log) return;
  std::unique_lock lock(log->mutex);
  log->changed.wait_for(lock, limit, [&] { return log->ended || (log->lines.empty() && log->dropped == 0 && !log->writing); });
}

bool ErrorLogEnded() {
  const auto log = Log();
  if (!log) return false;
  std::lock_guard lock(log->mutex);
  return log->ended;
}

}  // namespace vantorq
