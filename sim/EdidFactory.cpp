#include "EdidFactory.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "Presets.h"

namespace vantorq::sim {

namespace {

struct Timing {
  int clock10kHz;
  int hActive, hBlank, hFront, hSync;
  int vActive, vBlank, vFront, vSync;
};

constexpr Timing kFhd60{14850, 1920, 280, 88, 44, 1080, 45, 4, 5};
constexpr Timing kUhd30{29700, 3840, 560, 176, 88, 2160, 90, 8, 10};
constexpr Timing kUhd60{59400, 3840, 560, 176, 88, 2160, 90, 8, 10};
constexpr Timing kHd60{7425, 1280, 370, 110, 40, 720, 30, 5, 5};

class Writer {
 public:
  explicit Writer(Edid& edid, std::size_t at) : m_edid(edid), m_at(at) {}
  Writer& Put(std::initializer_list<int> bytes) {
    for (int b : bytes) m_edid[m_at++] = static_cast<std::uint8_t>(b);
    return *this;
  }
  std::size_t At() const { return m_at; }

 private:
  Edid& m_edid;
  std::size_t m_at;
};

void PutTiming(Edid& e, std::size_t at, const Timing& t, int widthMm, int heightMm) {
  Writer(e, at).Put({
      t.clock10kHz & 0xFF, t.clock10kHz >> 8,
      t.hActive & 0xFF, t.hBlank & 0xFF, ((t.hActive >> 8) << 4) | (t.hBlank >> 8),
      t.vActive & 0xFF, t.vBlank & 0xFF, ((t.vActive >> 8) << 4) | (t.vBlank >> 8),
      t.hFront & 0xFF, t.hSync & 0xFF, ((t.vFront & 0x0F) << 4) | (t.vSync & 0x0F),
      ((t.hFront >> 8) << 6) | ((t.hSync >> 8) << 4) | ((t.vFront >> 4) << 2) | (t.vSync >> 4),
      widthMm & 0xFF, heightMm & 0xFF, ((widthMm >> 8) << 4) | (heightMm >> 8),
      0, 0, 0x1E,  // no border; digital separate sync, both polarities positive
  });
}

void PutName(Edid& e, std::size_t at, std::string_view name) {
  Writer(e, at).Put({0, 0, 0, 0xFC, 0});
  for (std::size_t i = 0; i < 13; ++i) {
    e[at + 5 + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : (i == name.size() ? 0x0A : 0x20);
  }
}

void PutRange(Edid& e, std::size_t at, int maxClockMHz) {
  Writer(e, at).Put({0, 0, 0, 0xFD, 0, 24, 75, 15, 135, maxClockMHz / 10, 0, 0x0A, 0x20, 0x20,
                     0x20, 0x20, 0x20, 0x20});
}

// Manufacturer id from three letters A..Z, packed five bits each.
void PutVendor(Edid& e, std::string_view id, int product) {
  const int v = ((id[0] - '@') << 10) | ((id[1] - '@') << 5) | (id[2] - '@');
  Writer(e, 8).Put({v >> 8, v & 0xFF, product & 0xFF, product >> 8, 0x01, 0x00, 0x00, 0x00, 12,
                    2025 - 1990, 1, 3});
}

void PutBaseBlock(Edid& e, std::string_view vendor, int product, const Timing& preferred,
                  int maxClockMHz, std::string_view name, int widthCm, int heightCm) {
  Writer(e, 0).Put({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
  PutVendor(e, vendor, product);
  Writer(e, 20).Put({0x80, widthCm, heightCm, 0x78, 0x0A,
                     // sRGB-like chromaticity
                     0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54,
                     // 640x480, 800x600, 1024x768 at 60 Hz
                     0x21, 0x08, 0x00,
                     // standard timings: 1280x720@60, 1920x1080@60, rest unused
                     0x81, 0xC0, 0xD1, 0xC0, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                     0x01, 0x01, 0x01, 0x01});
  PutTiming(e, 54, preferred, widthCm * 10, heightCm * 10);
  PutRange(e, 72, maxClockMHz);
  PutName(e, 90, name);
  // A dummy descriptor fills the fourth slot.
  Writer(e, 108).Put({0, 0, 0, 0x10, 0});
  e[126] = 1;
}

// A CEA data block: tag in bits 7..5 of the header, payload length below.
void PutBlock(std::vector<std::uint8_t>& blocks, int tag, std::initializer_list<int> payload) {
  blocks.push_back(static_cast<std::uint8_t>((tag << 5) | static_cast<int>(payload.size())));
  for (int b : payload) blocks.push_back(static_cast<std::uint8_t>(b));
}

void PutBlock(std::vector<std::uint8_t>& blocks, int tag, const std::vector<int>& payload) {
  blocks.push_back(static_cast<std::uint8_t>((tag << 5) | static_cast<int>(payload.size())));
  for (int b : payload) blocks.push_back(static_cast<std::uint8_t>(b));
}

void PutExtension(Edid& e, const std::vector<std::uint8_t>& blocks, int flags,
                  std::initializer_list<Timing> timings) {
  e[128] = 0x02;
  e[129] = 0x03;
  e[130] = static_cast<std::uint8_t>(4 + blocks.size());
  e[131] = static_cast<std::uint8_t>(flags);
  std::copy(blocks.begin(), blocks.end(), e.begin() + 132);
  std::size_t at = 132 + blocks.size();
  for (const Timing& t : timings) {
    PutTiming(e, at, t, 0, 0);
    at += 18;
  }
}

std::vector<int> VideoCodes(Resolution r) {
  // 1080p60 native first, then the common HD and SD formats.
  std::vector<int> codes{0x80 | 16, 4, 31, 19, 34, 32, 5, 20, 3, 18, 2, 1};
  if (r != Resolution::Fhd60) codes.insert(codes.end(), {93, 94, 95, 98, 99, 100});
  if (r == Resolution::Uhd60) codes.insert(codes.end(), {96, 97, 101, 102});
  return codes;
}

}  // namespace

EdidTraits TraitsFromName(std::string_view name) {
  EdidTraits t;
  if (name.find("4K60") != std::string_view::npos) {
    t.resolution = Resolution::Uhd60;
  } else if (name.find("4K30") != std::string_view::npos) {
    t.resolution = Resolution::Uhd30;
  }
  if (name.find("_8CH") != std::string_view::npos) {
    t.channels = 8;
  } else if (name.find("_6CH") != std::string_view::npos) {
    t.channels = 6;
  }
  t.threeD = name.find("_3D") != std::string_view::npos;
  t.hdr = name.find("_HDR") != std::string_view::npos;
  return t;
}

Edid MakeEdid(const EdidTraits& traits, std::string_view productName) {
  Edid e{};
  const Timing& preferred = traits.resolution == Resolution::Fhd60   ? kFhd60
                            : traits.resolution == Resolution::Uhd30 ? kUhd30
                                                                     : kUhd60;
  const int maxClock = traits.resolution == Resolution::Uhd60   ? 600
                       : traits.resolution == Resolution::Uhd30 ? 300
                                                                : 170;
  PutBaseBlock(e, "VTQ", 0x4400 + static_cast<int>(traits.resolution) * 16 + traits.channels,
               preferred, maxClock, productName, 0, 0);

  std::vector<std::uint8_t> blocks;
  PutBlock(blocks, 2, VideoCodes(traits.resolution));
  const int sampleRates = traits.channels == 2 ? 0x07 : 0x7F;
  PutBlock(blocks, 1, {(1 << 3) | (traits.channels - 1), sampleRates, 0x07});
  const int speakers = traits.channels == 2 ? 0x01 : traits.channels == 6 ? 0x0F : 0x4F;
  PutBlock(blocks, 4, {speakers, 0, 0});

  const bool uhd = traits.resolution != Resolution::Fhd60;
  const int maxTmds = traits.resolution == Resolution::Uhd60 ? 340 : uhd ? 300 : 165;
  std::vector<int> hdmi{0x03, 0x0C, 0x00, 0x10, 0x00, uhd ? 0x38 : 0x00, maxTmds / 5, 0x20,
                        traits.threeD ? 0x80 : 0x00, uhd ? (4 << 5) : 0};
  if (uhd) hdmi.insert(hdmi.end(), {1, 2, 3, 4});
  PutBlock(blocks, 3, hdmi);
  if (traits.resolution == Resolution::Uhd60) {
    PutBlock(blocks, 3, {0xD8, 0x5D, 0xC4, 0x01, 600 / 5, 0x80, 0x00});
  }
  PutBlock(blocks, 7, {0x00, 0x40});  // video capability: quantisation selectable
  if (traits.hdr) {
    PutBlock(blocks, 7, {0x05, 0xC0, 0x00});  // BT.2020 colorimetry
    PutBlock(blocks, 7, {0x06, 0x0D, 0x01});  // SDR, PQ and HLG; static metadata type 1
  }
  if (traits.resolution == Resolution::Uhd60) {
    // 4:2:0 for the 50 and 60 Hz 4K codes: positions 18..21 of the list.
    PutBlock(blocks, 7, {0x0F, 0x00, 0x00, 0x3C});
  }

  if (uhd) {
    PutExtension(e, blocks, 0x70 | 1, {kFhd60});
  } else {
    PutExtension(e, blocks, 0x70 | 1, {kHd60});
  }
  FixChecksums(e);
  return e;
}

Edid TelevisionEdid() {
  Edid e{};
  PutBaseBlock(e, "QTV", 0x0C55, kUhd60, 600, "UHD TV", 121, 68);
  std::vector<std::uint8_t> blocks;
  PutBlock(blocks, 2, VideoCodes(Resolution::Uhd60));
  PutBlock(blocks, 1,
           {0x09, 0x7F, 0x07,    // LPCM 2 channels, 32..192 kHz, 16/20/24 bit
            0x15, 0x07, 0x50,    // AC-3 6 channels, 640 kbit/s
            0x3D, 0x1E, 0xC0,    // DTS 6 channels
            0x57, 0x06, 0x00});  // Dolby D+ 8 channels
  PutBlock(blocks, 4, {0x0F, 0, 0});
  // Latency fields present, so the 3D flag sits two bytes further on.
  PutBlock(blocks, 3, {0x03, 0x0C, 0x00, 0x10, 0x00, 0xB8, 0x3C, 0xA0, 0x0A, 0x0A, 0x80, 4 << 5,
                       1, 2, 3, 4});
  PutBlock(blocks, 3, {0xD8, 0x5D, 0xC4, 0x01, 600 / 5, 0x88, 0x00});
  PutBlock(blocks, 7, {0x00, 0x40});
  PutBlock(blocks, 7, {0x05, 0xC0, 0x00});
  PutBlock(blocks, 7, {0x06, 0x0D, 0x01, 0x78, 0x5A, 0x00});
  PutBlock(blocks, 7, {0x0F, 0x00, 0x00, 0x3C});
  PutExtension(e, blocks, 0xF0 | 1, {kFhd60, kUhd30});
  FixChecksums(e);
  return e;
}

Edid PresetEdid(int preset) {
  if (preset <= protocol::kBypassPreset || preset >= protocol::kPresetCount) return TelevisionEdid();
  const int source = preset == protocol::kUserPreset ? 7 : preset;
  const auto name = protocol::kPresetNames[static_cast<std::size_t>(source)];
  Edid e = MakeEdid(TraitsFromName(name), preset == protocol::kUserPreset ? "USER EDID" : name.substr(0, 13));
  return e;
}

void FixChecksums(Edid& edid) {
  for (std::size_t block : {0u, 128u}) {
    const int sum = std::accumulate(edid.begin() + block, edid.begin() + block + 127, 0);
    edid[block + 127] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
  }
}

}  // namespace vantorq::sim
