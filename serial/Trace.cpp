#include "Trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vantorq {

bool TraceEnabled() {
  const char* value = std::getenv("VANTORQ_TRACE");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
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
  // One call, so that lines of the two threads never interleave.
  std::fprintf(stderr, "vantorq: %s.%03lld %s\n", stamp, static_cast<long long>(ms),
               TraceText(direction, port, bytes, note).c_str());
}

}  // namespace vantorq
