#pragma once
// Appending report lines: text and decimal numbers, nothing else, without
// the cost of a format string per line.

#include <charconv>
#include <string>
#include <string_view>

namespace vantorq::edid {

class ReportText {
 public:
  explicit ReportText(std::string& out) : m_out(out) {}
  ReportText& operator<<(std::string_view text) {
    m_out.append(text);
    return *this;
  }
  ReportText& operator<<(char c) {
    m_out.push_back(c);
    return *this;
  }
  // A byte is a number here, not a character.
  ReportText& operator<<(unsigned char value) { return *this << static_cast<int>(value); }
  ReportText& operator<<(int value) {
    char buf[16];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    m_out.append(buf, static_cast<std::size_t>(end - buf));
    return *this;
  }

 private:
  std::string& m_out;
};

inline constexpr std::string_view kCrLf = "\r\n";

}  // namespace vantorq::edid
