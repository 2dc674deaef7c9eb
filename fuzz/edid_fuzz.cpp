// libFuzzer target: any bytes, taken as an EDID input (binary or hex text),
// through the checks, the three report sections and the summary. Checks
// the report's shape as well as the sanitizers' silence.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "EdidCheck.h"
#include "EdidFile.h"
#include "EdidReport.h"
#include "EdidSummary.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckLines(const std::string& text) {
  Check(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
    Check(i > 0 && text[i - 1] == '\r');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = vantorq::InterpretEdidInput(std::span<const std::uint8_t>(data, size));
  Check(input.form != vantorq::EdidInput::Form::Binary || input.bytes.size() == size);
  const auto verdict = vantorq::CheckEdid(input.bytes);
  Check(!input.bytes.empty() || !verdict.Passed());  // empty input is never passed
  const auto edid = vantorq::EdidFromFileBytes(input.bytes);
  vantorq::EdidReport report;
  const std::string summary = vantorq::DecodeAndSummarise(report, edid);
  Check(summary.rfind("Manufacture's Name:", 0) == 0);
  Check(report.m_strVideo.rfind("Preferred Timing:", 0) == 0);
  CheckLines(report.m_strVideo);
  CheckLines(report.m_strAudio);
  CheckLines(report.m_strGeneral);
  return 0;
}
