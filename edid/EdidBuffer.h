#pragma once
// The EDID buffer every part of the console passes around: the 128-byte
// base block followed by one 128-byte extension block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vantorq {

inline constexpr std::size_t kEdidSize = 256;
inline constexpr std::size_t kEdidBlockSize = 128;

// The eight bytes every EDID begins with.
inline constexpr std::array<std::uint8_t, 8> kEdidHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

using EdidBuffer = std::array<std::uint8_t, kEdidSize>;
using EdidView = std::span<const std::uint8_t, kEdidSize>;

}  // namespace vantorq
