#pragma once
// The decoded EDID for a person: five lines that answer an installer's
// questions, then the console's report as it stands, then one section per
// block with one line per fact and its unit. Lines end in CR LF, as the
// report's do.

#include <span>
#include <string>
#include <vector>

#include "EdidModel.h"

namespace vantorq::edid {

// The five answers: the highest mode at 4:4:4 and at 4:2:0 with the link
// it needs, HDR, the richest audio, the speakers, the physical address.
std::vector<std::string> InstallerAnswers(const EdidModel& model);

// Answers, report and sections of the input (as a file holds it);
// `afterAnswers` (where the EDID came from, its check) stand between the
// answers and the report.
std::string DetailReport(std::span<const std::uint8_t> input, const std::vector<std::string>& afterAnswers = {});

}  // namespace vantorq::edid
