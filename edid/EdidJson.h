#pragma once
// The decoded EDID as JSON, for scripts: one object per file, its keys in a
// fixed order, absent blocks null or [] (documented in vantorq-edid(1)).

#include <functional>
#include <string>
#include <string_view>

#include "EdidModel.h"

namespace vantorq::edid {

// One file's object.
std::string ModelJson(const EdidModel& model, const std::string& file);

// Several files' objects as one array, each written as soon as it is
// decoded: nothing of the files before it is kept.
class CJsonArrayWriter {
 public:
  explicit CJsonArrayWriter(std::function<void(std::string_view)> put) : m_put(std::move(put)) {}
  void Add(const EdidModel& model, const std::string& file);
  void Finish();

 private:
  std::function<void(std::string_view)> m_put;
  std::size_t m_count = 0;
};

}  // namespace vantorq::edid
