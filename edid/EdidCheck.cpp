#include "EdidCheck.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "EdidBuffer.h"

namespace vantorq {

namespace {

constexpr const auto& kHeader = kEdidHeader;

std::string Hex(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", b);
  return text;
}

bool IsPadding(std::span<const std::uint8_t> block) {
  return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; }) ||
         std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0x00; });
}

std::string Blocks(std::size_t n) { return std::to_string(n) + (n == 1 ? " extension block follows" : " extension blocks follow"); }

}  // namespace

std::string HexPairs(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%s%02x", text.empty() ? "" : " ", b);
    text += pair;
  }
  return text;
}

bool EdidVerdict::Passed() const {
  return std::none_of(problems.begin(), problems.end(),
                      [](const EdidProblem& p) { return p.severity == EdidProblem::Severity::Error; });
}

std::string EdidVerdict::Summary() const {
  std::string text;
  for (const EdidProblem& p : problems) {
    if (p.severity != EdidProblem::Severity::Error) continue;
    text += (text.empty() ? "" : "; ") + p.text;
  }
  return text.empty() ? "ok" : text;
}

std::uint8_t ExpectedChecksum(std::span<const std::uint8_t> edid, int block) {
  const auto start = static_cast<std::size_t>(block) * kEdidBlockSize;
  unsigned sum = 0;
  for (std::size_t i = start; i < start + kEdidBlockSize - 1 && i < edid.size(); ++i) sum += edid[i];
  return static_cast<std::uint8_t>((256 - sum % 256) % 256);
}

EdidVerdict CheckEdid(std::span<const std::uint8_t> bytes) {
  using S = EdidProblem::Severity;
  EdidVerdict verdict;
  auto add = [&](S severity, std::string text) { verdict.problems.push_back({severity, std::move(text)}); };
  const std::size_t length = bytes.size();
  if (length == 0) {
    add(S::Error, "was empty");
    return verdict;
  }
  if (length < kEdidBlockSize) {
    add(S::Error, "length " + std::to_string(length) + " is shorter than the 128-byte base block");
  } else if (length % kEdidBlockSize != 0) {
    add(S::Error, "length " + std::to_string(length) + " is not a multiple of 128");
  }
  if (length > kEdidSize) add(S::Note, "length " + std::to_string(length) + ": only the first 256 bytes are decoded");

  const auto header = bytes.first(std::min(length, kHeader.size()));
  if (!std::equal(header.begin(), header.end(), kHeader.begin()) || header.size() < kHeader.size()) {
    add(S::Error, "header " + HexPairs(header) + ", should be " + HexPairs(kHeader));
  }
  if (length < kEdidBlockSize) return verdict;

  const std::size_t count = bytes[126];
  const std::size_t present = std::min(length, kEdidSize) / kEdidBlockSize - 1;  // 0 or 1
  const bool padded = present == 1 && count == 0 && IsPadding(bytes.subspan(kEdidBlockSize, kEdidBlockSize));
  for (std::size_t block = 0; block <= present; ++block) {
    if (block == 1 && padded) break;
    const std::uint8_t found = bytes[block * kEdidBlockSize + kEdidBlockSize - 1];
    const std::uint8_t expected = ExpectedChecksum(bytes, static_cast<int>(block));
    if (found != expected) {
      add(S::Error, "block " + std::to_string(block) + " checksum " + Hex(found) + ", should be " + Hex(expected));
    }
  }

  const std::size_t following = length / kEdidBlockSize - 1;
  const std::string counted = "extension count " + std::to_string(count) + " (byte 126), but ";
  if (count == 0 && present == 1 && !padded) {
    // Only the count makes an extension: the decoder passes these bytes over.
    add(S::Note, counted + Blocks(following) + "; it is not decoded");
  } else if (count > following) {
    // The console keeps 256 bytes: further extensions are not in its files.
    add(length >= kEdidSize ? S::Note : S::Error, counted + Blocks(following));
  }
  return verdict;
}

}  // namespace vantorq
