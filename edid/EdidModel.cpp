#include "EdidModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "VicTable.h"

namespace vantorq::edid {

namespace {

constexpr std::size_t kBlock = 128;
constexpr int kCtaTag = 0x02;
constexpr std::uint32_t kHdmiOui = 0x000C03;
constexpr std::uint32_t kHdmiForumOui = 0xC45DD8;

// The input, completed with 0xFF to whole blocks and at least two.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> input) {
    const std::size_t blocks = std::max<std::size_t>(2, (input.size() + kBlock - 1) / kBlock);
    m_bytes.assign(blocks * kBlock, 0xFF);
    std::copy(input.begin(), input.end(), m_bytes.begin());
  }
  std::size_t Blocks() const { return m_bytes.size() / kBlock; }
  std::uint8_t At(std::size_t block, std::size_t offset) const { return m_bytes[block * kBlock + offset]; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// One 128-byte block; asked past its end it answers nothing.
class Block {
 public:
  Block(const Bytes& bytes, std::size_t index) : m_bytes(bytes), m_index(index) {}
  std::uint8_t operator[](std::size_t i) const { return i < kBlock ? m_bytes.At(m_index, i) : 0; }
  std::size_t Index() const { return m_index; }

 private:
  const Bytes& m_bytes;
  std::size_t m_index;
};

// The payload of a data block, cut where its collection ends: asked past
// that, it answers nothing, and `Has` says so first.
class Payload {
 public:
  Payload(const Block& block, std::size_t header, int length, std::size_t end)
      : m_block(block), m_header(header), m_length(static_cast<int>(std::min<std::size_t>(
                                                   static_cast<std::size_t>(length), end - header - 1))) {}
  // Payload byte k (1-based, as the standards count them).
  bool Has(int k) const { return k >= 1 && k <= m_length; }
  std::uint8_t operator[](int k) const { return Has(k) ? m_block[m_header + static_cast<std::size_t>(k)] : 0; }
  int Length() const { return m_length; }

 private:
  const Block& m_block;
  std::size_t m_header;
  int m_length;
};

std::optional<Timing> ReadTiming(const Block& b, std::size_t o) {
  const int clock = b[o] | b[o + 1] << 8;
  if (clock == 0) return std::nullopt;
  const int hActive = b[o + 2] | (b[o + 4] & 0xF0) << 4;
  const int hBlank = b[o + 3] | (b[o + 4] & 0x0F) << 8;
  const int vActive = b[o + 5] | (b[o + 7] & 0xF0) << 4;
  const int vBlank = b[o + 6] | (b[o + 7] & 0x0F) << 8;
  Timing t;
  t.interlaced = (b[o + 17] & 0x80) != 0;
  t.width = hActive;
  t.height = t.interlaced ? 2 * vActive : vActive;
  t.pixelClockKhz = clock * 10;
  const double hz = clock * 10000.0;
  const int hTotal = hActive + hBlank;
  const int vTotal = vActive + vBlank;
  if (hTotal > 0 && vTotal > 0) {
    // An interlaced frame is two fields and the half line between them.
    t.refresh = t.interlaced ? 2 * hz / (hTotal * (2.0 * vTotal + 1)) : hz / (hTotal * static_cast<double>(vTotal));
  }
  return t;
}

// A descriptor's text: up to its line feed (or a NUL, which some put
// there), blanks and all, as the reference decoder shows it.
std::string DescriptorText(const Block& b, std::size_t o) {
  std::string text;
  for (std::size_t i = 5; i < 18 && b[o + i] != 0x0A && b[o + i] != 0; ++i) text += static_cast<char>(b[o + i]);
  return text;
}

void DecodeBase(const Block& b, EdidModel& m) {
  const int id = b[8] << 8 | b[9];
  for (int shift : {10, 5, 0}) m.vendor += static_cast<char>('@' + ((id >> shift) & 0x1F));
  m.product = b[10] | b[11] << 8;
  m.serial = static_cast<std::uint32_t>(b[12]) | static_cast<std::uint32_t>(b[13]) << 8 |
             static_cast<std::uint32_t>(b[14]) << 16 | static_cast<std::uint32_t>(b[15]) << 24;
  m.modelYear = b[16] == 0xFF;
  if (b[16] != 0 && b[16] != 0xFF) m.week = b[16];
  m.year = 1990 + b[17];
  m.version = b[18];
  m.revision = b[19];
  m.digital = (b[20] & 0x80) != 0;
  if (m.digital && m.version == 1 && m.revision >= 4) {
    constexpr std::array<int, 8> kDepths{0, 6, 8, 10, 12, 14, 16, 0};
    if (const int depth = kDepths[(b[20] >> 4) & 7]; depth != 0) m.bitDepth = depth;
    constexpr std::array<const char*, 6> kInterfaces{"", "DVI", "HDMI-a", "HDMI-b", "MDDI", "DisplayPort"};
    const int i = b[20] & 0x0F;
    if (i < static_cast<int>(kInterfaces.size())) m.interface = kInterfaces[static_cast<std::size_t>(i)];
  }
  for (std::size_t o = 54; o < 126; o += 18) {
    if (b[o] != 0 || b[o + 1] != 0) {
      if (const auto t = ReadTiming(b, o)) m.detailed.push_back(*t);
      continue;
    }
    switch (b[o + 3]) {
      case 0xFC:
        if (!m.name) m.name = DescriptorText(b, o);
        break;
      case 0xFF:
        if (!m.serialText) m.serialText = DescriptorText(b, o);
        break;
      case 0xFD: {
        RangeLimits r{b[o + 5], b[o + 6], b[o + 7], b[o + 8], b[o + 9] * 10};
        const int offsets = b[o + 4];
        if ((offsets & 0x03) == 0x03) r.minVerticalHz += 255;
        if ((offsets & 0x02) != 0) r.maxVerticalHz += 255;
        if ((offsets & 0x0C) == 0x0C) r.minHorizontalKhz += 255;
        if ((offsets & 0x08) != 0) r.maxHorizontalKhz += 255;
        if (!m.range) m.range = r;
        break;
      }
      default:
        break;
    }
  }
}

std::vector<int> BitsToDepths(std::uint8_t flags, int bit30, int bit36, int bit48) {
  std::vector<int> depths;
  if ((flags >> bit30 & 1) != 0) depths.push_back(30);
  if ((flags >> bit36 & 1) != 0) depths.push_back(36);
  if ((flags >> bit48 & 1) != 0) depths.push_back(48);
  return depths;
}

// Latency fields: 0 unknown, 255 none, else (v - 1) x 2 ms.
std::optional<int> Latency(const Payload& p, int k) {
  if (!p.Has(k) || p[k] == 0 || p[k] == 255) return std::nullopt;
  return (p[k] - 1) * 2;
}

HdmiVsdb DecodeHdmi(const Payload& p) {
  HdmiVsdb h;
  if (p.Has(5)) {
    char address[16];
    std::snprintf(address, sizeof address, "%d.%d.%d.%d", p[4] >> 4, p[4] & 15, p[5] >> 4, p[5] & 15);
    h.physicalAddress = address;
  }
  if (p.Has(6)) {
    h.supportsAi = (p[6] & 0x80) != 0;
    h.deepColor = BitsToDepths(p[6], 4, 5, 6);
    h.deepColorY444 = (p[6] & 0x08) != 0;
    h.dviDual = (p[6] & 0x01) != 0;
  }
  if (p.Has(7) && p[7] != 0) h.maxTmdsMhz = p[7] * 5;
  if (p.Has(8)) {
    int k = 9;
    if ((p[8] & 0x80) != 0) {
      h.videoLatencyMs = Latency(p, k);
      h.audioLatencyMs = Latency(p, k + 1);
      k += 2;
    }
    if ((p[8] & 0x40) != 0) {
      h.interlacedVideoLatencyMs = Latency(p, k);
      h.interlacedAudioLatencyMs = Latency(p, k + 1);
    }
  }
  return h;
}

std::optional<int> FrlGbps(int code) {
  constexpr std::array<int, 7> kGbps{0, 9, 18, 24, 32, 40, 48};
  if (code <= 0 || code >= static_cast<int>(kGbps.size())) return std::nullopt;
  return kGbps[static_cast<std::size_t>(code)];
}

// The HDMI Forum block's fields stand at the same payload bytes in both
// forms: the vendor block's OUI and the SCDB's extended tag and two
// reserved bytes are both three bytes long.
HdmiForum DecodeHdmiForum(const Payload& p, bool scdb) {
  HdmiForum f;
  f.sinkCapabilityBlock = scdb;
  f.version = p[4];
  if (p.Has(5) && p[5] != 0) f.maxTmdsMhz = p[5] * 5;
  if (p.Has(6)) {
    f.scdc = (p[6] & 0x80) != 0;
    f.readRequest = (p[6] & 0x40) != 0;
    f.scrambling340 = (p[6] & 0x08) != 0;
  }
  if (p.Has(7)) {
    f.maxFrlGbps = FrlGbps(p[7] >> 4);
    f.deepColor420 = BitsToDepths(p[7], 0, 1, 2);
  }
  if (p.Has(8)) f.allm = (p[8] & 0x02) != 0;
  if (p.Has(11)) f.dsc = (p[11] & 0x80) != 0;
  if (p.Has(12) && f.dsc) f.dscMaxFrlGbps = FrlGbps(p[12] >> 4);
  return f;
}

double Luminance(int code) { return 50.0 * std::pow(2.0, code / 32.0); }

HdrStatic DecodeHdr(const Payload& p) {
  HdrStatic h;
  constexpr std::array<const char*, 4> kEotf{"SDR", "HDR", "PQ", "HLG"};
  for (std::size_t bit = 0; bit < kEotf.size(); ++bit) {
    if (((p[2] >> bit) & 1) != 0) h.eotf.emplace_back(kEotf[bit]);
  }
  if (p.Has(4)) h.maxLuminance = Luminance(p[4]);
  if (p.Has(5)) h.maxFrameAverage = Luminance(p[5]);
  if (p.Has(6) && h.maxLuminance) h.minLuminance = *h.maxLuminance * (p[6] / 255.0) * (p[6] / 255.0) / 100.0;
  return h;
}

std::vector<std::string> Colorimetry(const Payload& p) {
  static constexpr std::array<const char*, 8> kFirst{"xvYCC601",  "xvYCC709",   "sYCC601",  "opYCC601",
                                                     "opRGB",     "BT2020cYCC", "BT2020YCC", "BT2020RGB"};
  static constexpr std::array<std::pair<int, const char*>, 3> kSecond{{{5, "ST2113RGB"}, {6, "ICtCp"}, {7, "DCI-P3"}}};
  std::vector<std::string> names;
  for (std::size_t bit = 0; bit < kFirst.size(); ++bit) {
    if (((p[2] >> bit) & 1) != 0) names.emplace_back(kFirst[bit]);
  }
  for (const auto& [bit, name] : kSecond) {
    if (((p[3] >> bit) & 1) != 0) names.emplace_back(name);
  }
  return names;
}

void DecodeSpeakers(const Payload& p, std::vector<std::string>& out) {
  static constexpr std::array<std::array<const char*, 8>, 3> kNames{{
      {"FL/FR", "LFE1", "FC", "BL/BR", "BC", "FLC/FRC", "RLC/RRC", "FLW/FRW"},
      {"TpFL/TpFR", "TpC", "TpFC", "LS/RS", "LFE2", "TpBC", "SiL/SiR", "TpSiL/TpSiR"},
      {"TpBL/TpBR", "BtFC", "BtFL/BtFR", "TpLS/TpRS", nullptr, nullptr, nullptr, nullptr},
  }};
  for (int k = 1; k <= 3; ++k) {
    for (std::size_t bit = 0; bit < 8; ++bit) {
      const char* name = kNames[static_cast<std::size_t>(k - 1)][bit];
      if (name != nullptr && ((p[k] >> bit) & 1) != 0) out.emplace_back(name);
    }
  }
}

void DecodeAudio(const Payload& p, std::vector<ShortAudio>& out) {
  static constexpr std::array<double, 7> kRates{32, 44.1, 48, 88.2, 96, 176.4, 192};
  for (int k = 1; p.Has(k + 2); k += 3) {
    ShortAudio a;
    a.formatCode = (p[k] >> 3) & 0x0F;
    a.channels = (p[k] & 0x07) + 1;
    for (std::size_t bit = 0; bit < kRates.size(); ++bit) {
      if (((p[k + 1] >> bit) & 1) != 0) a.ratesKhz.push_back(kRates[bit]);
    }
    if (a.formatCode == 1) {
      for (const auto& [bit, size] : {std::pair{0, 16}, std::pair{1, 20}, std::pair{2, 24}}) {
        if (((p[k + 2] >> bit) & 1) != 0) a.bits.push_back(size);
      }
    } else if (a.formatCode >= 2 && a.formatCode <= 8) {
      a.maxBitrateKbps = p[k + 2] * 8;
    } else if (a.formatCode == 15) {
      a.extendedCode = p[k + 2] >> 3;
    }
    out.push_back(std::move(a));
  }
}

std::string WithOui(std::string name, std::uint32_t oui) {
  char text[24];
  std::snprintf(text, sizeof text, ", OUI %02X-%02X-%02X", oui >> 16 & 0xFF, oui >> 8 & 0xFF, oui & 0xFF);
  return name + text;
}

std::string BlockName(int tag, int extended, std::uint32_t oui) {
  switch (tag) {
    case 1: return "Audio Data Block";
    case 2: return "Video Data Block";
    case 3:
      if (oui == kHdmiOui) return "HDMI Vendor-Specific Data Block";
      if (oui == kHdmiForumOui) return "HDMI Forum Vendor-Specific Data Block";
      return WithOui("Vendor-Specific Data Block", oui);
    case 4: return "Speaker Allocation Data Block";
    case 5: return "VESA Display Transfer Characteristic Data Block";
    case 7:
      switch (extended) {
        case 0: return "Video Capability Data Block";
        case 1: return WithOui("Vendor-Specific Video Data Block", oui);
        case 2: return "VESA Video Display Device Data Block";
        case 5: return "Colorimetry Data Block";
        case 6: return "HDR Static Metadata Data Block";
        case 7: return "HDR Dynamic Metadata Data Block";
        case 13: return "Video Format Preference Data Block";
        case 14: return "YCbCr 4:2:0 Video Data Block";
        case 15: return "YCbCr 4:2:0 Capability Map Data Block";
        case 17: return WithOui("Vendor-Specific Audio Data Block", oui);
        case 18: return "Room Configuration Data Block";
        case 19: return "Speaker Location Data Block";
        case 32: return "InfoFrame Data Block";
        case 120: return "HDMI Forum EDID Extension Override Data Block";
        case 121: return "HDMI Forum Sink Capability Data Block";
        default: break;
      }
      return extended < 0 ? "Unknown (tag 7, no extended tag)" : "Unknown (extended tag " + std::to_string(extended) + ")";
    default:
      break;
  }
  return "Unknown (tag " + std::to_string(tag) + ")";
}

void DecodeCta(const Block& b, EdidModel& m) {
  const std::size_t d = b[2];
  // The collection ends where the timings begin, and never past the block.
  const std::size_t end = d >= 4 ? std::min<std::size_t>(d, 127) : 4;
  std::vector<int> svds;  // this block's, for its 4:2:0 map
  std::vector<std::pair<std::size_t, int>> maps;  // header and length of each 4:2:0 capability map
  for (std::size_t p = 4; p < end;) {
    const std::uint8_t header = b[p];
    const int tag = header >> 5;
    const int length = header & 0x1F;
    const Payload payload(b, p, length, end);
    DataBlockEntry entry;
    entry.extension = static_cast<int>(b.Index());
    entry.offset = static_cast<int>(p);
    entry.tag = tag;
    entry.length = length;
    entry.cut = payload.Length() < length;
    if (tag == 7 && payload.Has(1)) entry.extendedTag = payload[1];
    // Vendor blocks, of video and audio too, name their vendor by an OUI.
    const int ouiAt = tag == 3 ? 1 : tag == 7 && (entry.extendedTag == 1 || entry.extendedTag == 17) ? 2 : 0;
    const std::uint32_t oui = ouiAt != 0 && payload.Has(ouiAt + 2)
                                  ? static_cast<std::uint32_t>(payload[ouiAt] | payload[ouiAt + 1] << 8 |
                                                               payload[ouiAt + 2] << 16)
                                  : 0;
    entry.name = BlockName(tag, entry.extendedTag, oui);
    switch (tag) {
      case 1:
        DecodeAudio(payload, m.audio);
        break;
      case 2:
        for (int k = 1; payload.Has(k); ++k) {
          const int code = payload[k];
          // 1..64 and 129..192 carry the native flag; the rest are VICs as
          // they are, but for 0 and 128, which name no format.
          const bool native = code >= 129 && code <= 192;
          const int vic = native ? code - 128 : code;
          if (vic == 0 || vic == 128) continue;
          m.video.push_back({vic, native});
          svds.push_back(vic);
        }
        break;
      case 3:
        if (oui == kHdmiOui && !m.hdmi) m.hdmi = DecodeHdmi(payload);
        if (oui == kHdmiForumOui && !m.hdmiForum && payload.Has(4)) m.hdmiForum = DecodeHdmiForum(payload, false);
        break;
      case 4:
        if (m.speakers.empty()) DecodeSpeakers(payload, m.speakers);
        break;
      case 7:
        switch (entry.extendedTag) {
          case 0:
            if (payload.Has(2) && !m.videoCapability) {
              m.videoCapability = VideoCapability{(payload[2] & 0x80) != 0, (payload[2] & 0x40) != 0,
                                                  payload[2] >> 4 & 3, payload[2] >> 2 & 3, payload[2] & 3};
            }
            break;
          case 5:
            if (payload.Has(2) && m.colorimetry.empty()) m.colorimetry = Colorimetry(payload);
            break;
          case 6:
            if (!m.hdr) m.hdr = DecodeHdr(payload);
            break;
          case 14:
            for (int k = 2; payload.Has(k); ++k) m.ycbcr420Only.push_back(payload[k]);
            break;
          case 15:
            maps.emplace_back(p, payload.Length());
            break;
          case 121:
            if (!m.hdmiForum && payload.Has(4)) m.hdmiForum = DecodeHdmiForum(payload, true);
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
    m.dataBlocks.push_back(std::move(entry));
    p += 1 + static_cast<std::size_t>(length);
  }
  // A map names this block's SVDs by their place; an empty one names them
  // all, and a bit past the last SVD names nothing.
  for (const auto& [header, length] : maps) {
    if (length <= 1) {
      m.ycbcr420Also.insert(m.ycbcr420Also.end(), svds.begin(), svds.end());
      continue;
    }
    for (int k = 2; k <= length; ++k) {
      const std::uint8_t bits = b[header + static_cast<std::size_t>(k)];
      for (int bit = 0; bit < 8; ++bit) {
        const std::size_t i = static_cast<std::size_t>(k - 2) * 8 + static_cast<std::size_t>(bit);
        if (((bits >> bit) & 1) != 0 && i < svds.size()) m.ycbcr420Also.push_back(svds[i]);
      }
    }
  }
  if (d >= 4) {
    for (std::size_t o = d; o + 18 <= 127; o += 18) {
      const auto t = ReadTiming(b, o);
      if (!t) break;
      m.detailed.push_back(*t);
    }
  }
}

}  // namespace

EdidModel DecodeModel(std::span<const std::uint8_t> input) {
  EdidModel m;
  m.size = input.size();
  m.blocks = static_cast<int>(input.size() / kBlock);
  m.verdict = CheckEdid(input);
  const Bytes bytes(input);
  DecodeBase(Block(bytes, 0), m);
  for (std::size_t i = 1; i < bytes.Blocks(); ++i) {
    const Block block(bytes, i);
    m.extensionTags.push_back(block[0]);
    if (block[0] == kCtaTag) DecodeCta(block, m);
  }
  return m;
}

std::optional<Timing> DescriptorTiming(std::span<const std::uint8_t, 18> bytes) {
  Bytes padded(bytes);
  return ReadTiming(Block(padded, 0), 0);
}

std::string ModeName(const Timing& t) {
  return std::to_string(t.width) + "x" + std::to_string(t.height) + (t.interlaced ? "i" : "") + "@" +
         std::to_string(static_cast<int>(std::lround(t.refresh))) + "Hz";
}

Timing VicAsTiming(int vic) {
  const VicTiming* v = FindVic(vic);
  if (v == nullptr) return {};
  return {v->width, v->height, v->interlaced, v->refresh, v->pixelClockKhz};
}

std::string AudioFormatName(const ShortAudio& a) {
  static constexpr std::array<const char*, 16> kNames{
      "reserved", "LPCM", "AC-3", "MPEG-1", "MP3", "MPEG-2", "AAC LC", "DTS",
      "ATRAC", "One Bit Audio", "E-AC-3", "DTS-HD", "MAT (MLP)", "DST", "WMA Pro", "extended"};
  if (a.formatCode == 15) {
    static constexpr std::array<std::pair<int, const char*>, 9> kExtended{
        {{4, "MPEG-4 HE AAC"}, {5, "MPEG-4 HE AAC v2"}, {6, "MPEG-4 AAC LC"}, {7, "DRA"},
         {8, "MPEG-4 HE AAC + MPEG Surround"}, {10, "MPEG-4 AAC LC + MPEG Surround"}, {11, "MPEG-H 3D Audio"},
         {12, "AC-4"}, {13, "L-PCM 3D Audio"}}};
    for (const auto& [code, name] : kExtended) {
      if (code == a.extendedCode) return name;
    }
    return "extended code " + std::to_string(a.extendedCode);
  }
  return kNames[static_cast<std::size_t>(a.formatCode & 15)];
}

}  // namespace vantorq::edid
