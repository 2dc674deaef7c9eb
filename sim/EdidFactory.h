#pragma once
// The EDIDs the simulated device holds: one per preset, made to match the
// preset's name, and the EDID of a typical 4K television on its output.

#include <array>
#include <cstdint>
#include <string_view>

#include "EdidBuffer.h"

namespace vantorq::sim {

using Edid = EdidBuffer;

enum class Resolution { Fhd60, Uhd30, Uhd60 };

// What a preset name promises.
struct EdidTraits {
  Resolution resolution = Resolution::Fhd60;
  int channels = 2;  // LPCM
  bool threeD = false;
  bool hdr = false;
};

// Reads the traits out of a name like "4K60Hz_3D_8CH_HDR".
EdidTraits TraitsFromName(std::string_view name);

// An EDID (base block and one CEA-861 extension) with those traits.
Edid MakeEdid(const EdidTraits& traits, std::string_view productName);

// The television on the output port.
Edid TelevisionEdid();

// The EDID of preset 0..15: bypass passes the television's through, the
// user buffer starts as a copy of the 8-channel 4K60 preset.
Edid PresetEdid(int preset);

// Makes byte 127 and byte 255 the checksums of their blocks.
void FixChecksums(Edid& edid);

}  // namespace vantorq::sim
