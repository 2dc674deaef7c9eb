#include "ReadBackService.h"

#include <algorithm>
#include <filesystem>
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

std::string DescribeBrokenReply(std::string_view line, std::size_t parsed) {
  const protocol::ReplyShape shape = protocol::InspectEdidReply(line);
  if (shape.Whole() && parsed == kEdidSize) return {};
  if (shape.digits < 2 * kEdidSize) {
    return "The EDID reply was cut short: " + std::to_string(std::min(parsed, shape.wholePairs)) + " of " +
           std::to_string(kEdidSize) + " bytes arrived.";
  }
  if (shape.digits > 2 * kEdidSize) {
    return "The EDID reply was garbled on the line: " + std::to_string(shape.digits) +
           " hexadecimal digits arrived where " + std::to_string(2 * kEdidSize) + " belong.";
  }
  return "The EDID reply was garbled on the line: byte " + std::to_string(shape.wholePairs + 1) + " of " +
         std::to_string(kEdidSize) + " was split by a stray character.";
}

ReadBackOutcome CReadBackService::Complete(std::string_view line, std::string_view pattern,
                                           EdidBuffer& buffer) {
  ReadBackOutcome outcome;
  EdidBuffer parsed = buffer;
  const std::size_t pairs = protocol::ParseEdidReply(line, parsed);
  if (std::string broken = DescribeBrokenReply(line, pairs); !broken.empty()) {
    // Bytes lost, added or split on the line (a pulled cable, noise, a
    // status line completing a cut reply): what was parsed is not the
    // EDID, and must not pass for it.
    outcome.message = std::move(broken) + " Nothing was saved; read it again.";
    return outcome;
  }
  buffer = parsed;

  const SavedEdid saved = SaveEdidUnderFreeName(pattern, buffer);
  if (saved.name.empty()) {
    outcome.message = FormatEdidFileName(pattern, 0) + " to " +
                      FormatEdidFileName(pattern, kLastEdidFileNumber) +
                      " all exist in this folder. Nothing was saved; move some of them away and read again.";
    return outcome;
  }
  switch (saved.result) {
    case WriteResult::CreateFailed:
    case WriteResult::WriteFailed:
      outcome.message = "Faild to create file";
      outcome.detail = saved.name + ": " + std::strerror(saved.error);
      return outcome;
    case WriteResult::Vanished:
      outcome.message = "failed";
      outcome.detail = saved.name + ": " + std::strerror(saved.error);
      return outcome;
    case WriteResult::Written:
      break;
  }
  outcome.saved = true;
  outcome.message = "Save to file: " + saved.name;
  std::error_code ec;
  outcome.savedPath = std::filesystem::absolute(saved.name, ec).string();
  outcome.summary = DecodeAndSummarise(m_report, buffer);
  outcome.verdict = EdidCheckLine(buffer);
  // Saved as the device holds it, but a faulty EDID is said where the
  // operator looks, not only in the summary's tooltip.
  if (!CheckEdid(buffer).Passed()) outcome.detail = outcome.verdict;
  return outcome;
}

}  // namespace vantorq
