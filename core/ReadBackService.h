#pragma once
// The EDID read-back, from the request to the summary on the page: which
// command to send and under which prefix to save, then, once the reply
// line is whole, parsing it, naming and saving the file, decoding it and
// summarising the decode. What the operator is told comes back as text;
// the window shows it.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "EdidBuffer.h"
#include "EdidReport.h"

namespace vantorq {

struct ReadBackRequest {
  enum class Kind {
    NeedPort,    // no port chosen: "Please select the target port first"
    NeedPreset,  // input port without a preset: nothing to ask for
    Send,        // send `command`, then await the reply
  };
  Kind kind = Kind::NeedPort;
  std::array<std::uint8_t, 24> command{};
  std::size_t length = 0;
  std::string pattern;  // the saved file's name, with "%02d" for its number

  std::span<const std::uint8_t> Command() const { return {command.data(), length}; }
};

// The page's choice: port 0 input, 1 output, -1 none; preset 0..15 or -1.
// The output port, or the input with preset 0 (bypass), reads the output's
// EDID as a "Matrix_EDID_out" file; another preset reads that preset's as
// a "Matrix_EDID_inp" file.
ReadBackRequest PlanReadBack(int portChoice, int preset);

struct ReadBackOutcome {
  bool saved = false;
  std::string message;  // the box's text
  std::string detail;   // beneath it, when there is more to say
  std::string summary;  // the page's new basic information, when saved
  std::string verdict;  // what the check of the saved EDID found, when saved
  std::string savedPath;  // the saved file's full path, when saved
};

// What is wrong with a read reply as it arrived: empty when it carries the
// whole EDID, else "The EDID reply was cut short: 97 of 256 bytes arrived."
// or "... garbled on the line: ...". `parsed` is what the parser read.
std::string DescribeBrokenReply(std::string_view line, std::size_t parsed);

class CReadBackService {
 public:
  explicit CReadBackService(EdidReport& report) : m_report(report) {}

  // A whole reply line arrived. Only a reply carrying all 256 bytes is
  // saved (under the first free name of `pattern`) and decoded into
  // `buffer`; a cut reply leaves the buffer as it was.
  ReadBackOutcome Complete(std::string_view line, std::string_view pattern, EdidBuffer& buffer);

 private:
  EdidReport& m_report;
};

}  // namespace vantorq
