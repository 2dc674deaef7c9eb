// libFuzzer target: any bytes as an EDID of any length, through the
// decoded model, its JSON and the detailed report. The JSON must parse
// back, with its keys; the report's lines must end in CR LF.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include <rapidjson/document.h>

#include "EdidDetail.h"
#include "EdidJson.h"
#include "EdidModel.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto model = vantorq::edid::DecodeModel(bytes);
  Check(model.size == size);
  rapidjson::Document json;
  json.Parse(vantorq::edid::ModelJson(model, "fuzz.bin").c_str());
  Check(!json.HasParseError() && json.IsObject() && json.MemberCount() == 21);
  Check(json["size"].GetUint64() == size && json["video"].IsArray());
  const std::string detail = vantorq::edid::DetailReport(bytes);
  Check(detail.size() >= 2 && detail.compare(detail.size() - 2, 2, "\r\n") == 0);
  for (std::size_t i = detail.find('\n'); i != std::string::npos; i = detail.find('\n', i + 1)) {
    Check(i > 0 && detail[i - 1] == '\r');
  }
  return 0;
}
