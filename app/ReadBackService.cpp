#include "ReadBackService.h"

#include <algorithm>
#include <cstring>

#include "Commands.h"
#include "EdidCheck.h"
#include "EdidFile.h"
#include "EdidSummary.h"
#include "FileIo.h"
#include "ReadBack.h"

namespace vantorq {

namespace {

template <std::size_t N>
void SetCommand(ReadBackRequest& request, const protocol::CommandBytes<N>& bytes) {
  static_assert(N <= std::tuple_size_v<decltype(request.command)>);
  std::copy(bytes.begin(), bytes.end(), request.command.begin());
  request.length = N;
}

}  // namespace

ReadBackRequest PlanReadBack(int portChoice, int preset) {
  ReadBackRequest request;
  if (portChoice == -1) return request;
  const bool output = portChoice == 1 || preset == 0;
  if (!output && preset < 0) {
    request.kind = ReadBackRequest::Kind::NeedPreset;
    return request;
  }
  request.kind = ReadBackRequest::Kind::Send;
  if (output) {
    SetCommand(request, protocol::OutputEdidReadCommand());
  } else {
    SetCommand(request, protocol::InputEdidReadCommand(preset));
  }
  request.pattern = EdidFilePattern(output ? "Matrix_EDID_out" : "Matrix_EDID_inp");
  return request;
}

ReadBackOutcome CReadBackService::Complete(std::string_view line, std::string_view pattern,
                                           EdidBuffer& buffer) {
  ReadBackOutcome outcome;
  EdidBuffer parsed = buffer;
  const std::size_t pairs = protocol::ParseEdidReply(line, parsed);
  if (pairs < kEdidSize) {
    // A cut reply (a pulled cable, a reboot) later completed by some other
    // line: its bytes are not the EDID, and must not pass for it.
    outcome.message = "The EDID reply was cut short: " + std::to_string(pairs) + " of " +
                      std::to_string(kEdidSize) + " bytes arrived. Nothing was saved; read it again.";
    return outcome;
  }
  buffer = parsed;

  const auto name = NextEdidFileName(pattern);
  if (!name) {
    outcome.message = FormatEdidFileName(pattern, 0) + " to " +
                      FormatEdidFileName(pattern, kLastEdidFileNumber) +
                      " all exist in this folder. Nothing was saved; move some of them away and read again.";
    return outcome;
  }
  int error = 0;
  switch (SaveEdidFile(*name, buffer, &error)) {
    case WriteResult::CreateFailed:
    case WriteResult::WriteFailed:
      outcome.message = "Faild to create file";
      outcome.detail = *name + ": " + std::strerror(error);
      return outcome;
    case WriteResult::Vanished:
      outcome.message = "failed";
      outcome.detail = *name + ": " + std::strerror(error);
      return outcome;
    case WriteResult::Written:
      break;
  }
  outcome.saved = true;
  outcome.message = "Save to file: " + *name;
  outcome.summary = DecodeAndSummarise(m_report, buffer);
  const EdidVerdict verdict = CheckEdid(buffer);
  outcome.verdict = "EDID check: " + (verdict.Passed() ? std::string("header, checksums and extension count are right")
                                                       : verdict.Summary());
  return outcome;
}

}  // namespace vantorq
