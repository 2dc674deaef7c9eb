// EDIDs decoded per second: all three sections and the summary, over the
// real corpus (or any folder of .bin files given on the command line).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "EdidFile.h"
#include "EdidReport.h"
#include "EdidSummary.h"

int main(int argc, char** argv) {
  const std::filesystem::path dir = argc > 1 ? argv[1] : VANTORQ_EDID_CORPUS;
  std::vector<std::array<std::uint8_t, 256>> edids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".bin") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    edids.push_back(vantorq::EdidFromFileBytes(bytes));
  }
  if (edids.empty()) {
    std::fprintf(stderr, "no EDID files in %s\n", dir.c_str());
    return 1;
  }
  vantorq::EdidReport report;
  std::size_t checksum = 0;
  std::size_t decoded = 0;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = std::chrono::duration<double>(0);
  // Whole passes over the corpus for at least two seconds.
  while (elapsed.count() < 2.0) {
    for (const auto& edid : edids) checksum += vantorq::DecodeAndSummarise(report, edid).size();
    decoded += edids.size();
    elapsed = std::chrono::steady_clock::now() - start;
  }
  std::printf("edid_decodes_per_second %.0f decodes/s\n", decoded / elapsed.count());
  std::printf("edid_decode_time %.2f us\n", elapsed.count() * 1e6 / decoded);
  return checksum == 0 ? 1 : 0;
}
