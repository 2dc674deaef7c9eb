#include "EdidEdit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>

#include "EdidModel.h"
#include "VicTable.h"

namespace vantorq::edid {

namespace {

constexpr std::size_t kBlock = 128;
constexpr std::size_t kSlots = 4;
constexpr std::size_t kFirstSlot = 54;
constexpr std::array<std::uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::uint32_t kHdmiOui = 0x000C03;
constexpr std::uint32_t kHdmiForumOui = 0xC45DD8;
constexpr int kHdrStaticTag = 6;
constexpr int kY420VideoTag = 14;
constexpr int kY420MapTag = 15;
constexpr int kForumScdbTag = 0x79;

using Descriptor = std::array<std::uint8_t, 18>;
using DataBlock = std::vector<std::uint8_t>;  // header and payload

constexpr Descriptor kDummy{0, 0, 0, 0x10};

bool IsTiming(const Descriptor& d) { return d[0] != 0 || d[1] != 0; }
bool IsDisplay(const Descriptor& d, std::uint8_t tag) { return !IsTiming(d) && d[2] == 0 && d[3] == tag; }

// A dummy descriptor, or a manufacturer's (tags 0 to 15) that holds
// nothing: an empty one is one of those.
bool IsFree(const Descriptor& d) {
  if (IsTiming(d) || d[2] != 0 || d[3] > 0x10) return false;
  return d[3] == 0x10 || std::all_of(d.begin() + 4, d.end(), [](std::uint8_t b) { return b == 0; });
}

int Tag(const DataBlock& b) { return b[0] >> 5; }
int Length(const DataBlock& b) { return b[0] & 0x1F; }
int ExtendedTag(const DataBlock& b) { return Tag(b) == 7 && b.size() > 1 ? b[1] : -1; }
std::uint32_t Oui(const DataBlock& b) {
  return Tag(b) == 3 && b.size() >= 4 ? static_cast<std::uint32_t>(b[1] | b[2] << 8 | b[3] << 16) : 0;
}
bool IsForum(const DataBlock& b) { return Oui(b) == kHdmiForumOui || ExtendedTag(b) == kForumScdbTag; }
DataBlock Block(int tag, const std::vector<std::uint8_t>& payload) {
  DataBlock b(payload.size() + 1);
  b[0] = static_cast<std::uint8_t>(tag << 5 | static_cast<int>(payload.size()));
  std::copy(payload.begin(), payload.end(), b.begin() + 1);
  return b;
}

// An SVD's VIC: 1..64 and 129..192 carry the native flag.
int SvdVic(std::uint8_t code) { return code >= 129 && code <= 192 ? code - 128 : code; }

struct Cta {
  std::uint8_t revision = 3;
  std::uint8_t flags = 0;
  std::vector<DataBlock> blocks;
  std::vector<Descriptor> dtds;
};

struct Editable {
  std::array<std::uint8_t, kBlock> base{};
  std::array<Descriptor, kSlots> slots{};
  std::size_t size = 0;
  std::array<std::uint8_t, kBlock> extension{};  // kept byte for byte unless a change needs it
  std::optional<Cta> cta;
  std::string ctaProblem;  // why a CTA-861 extension could not be taken apart
  bool ctaChanged = false;
};

// What a descriptor holds, said to an installer who must choose what to give up.
std::string Held(const Descriptor& d) {
  if (IsTiming(d)) return "a timing";
  switch (d[3]) {
    case 0xFF: return "the serial number text";
    case 0xFE: return "a text string";
    case 0xFD: return "the range limits";
    case 0xFB: return "colour points";
    case 0xFA: return "standard timings";
    case 0xF9: return "colour management data";
    case 0xF8: return "CVT codes";
    case 0xF7: return "established timings III";
    default: break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%s 0x%02x", d[3] <= 0x0F ? "manufacturer's data" : "descriptor", d[3]);
  return text;
}

bool ParseCta(std::span<const std::uint8_t> b, Cta& cta, std::string& error) {
  cta.revision = b[1];
  cta.flags = b[3];
  const std::size_t d = b[2];
  if (d == 0) return true;
  if (d < 4 || d > 127) {
    error = "its CTA-861 extension gives its timings an offset of " + std::to_string(d) +
            ", which no layout has: it cannot be laid out again";
    return false;
  }
  for (std::size_t p = 4; p < d;) {
    const std::size_t length = b[p] & 0x1Fu;
    if (p + 1 + length > d) {
      error = "a data block of its CTA-861 extension (at byte " + std::to_string(p) +
              ") runs past the collection: it cannot be laid out again";
      return false;
    }
    // Bytes of 0 between the blocks and the timings are padding, not blocks.
    if (b[p] != 0) cta.blocks.emplace_back(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p + 1 + length));
    p += 1 + length;
  }
  for (std::size_t o = d; o + 18 <= 127; o += 18) {
    Descriptor t;
    std::copy_n(b.begin() + static_cast<long>(o), 18, t.begin());
    if (!IsTiming(t)) break;
    cta.dtds.push_back(t);
  }
  return true;
}

void Parse(std::span<const std::uint8_t> input, Editable& e) {
  e.size = input.size();
  std::copy_n(input.begin(), kBlock, e.base.begin());
  for (std::size_t k = 0; k < kSlots; ++k) std::copy_n(e.base.begin() + static_cast<long>(kFirstSlot + 18 * k), 18, e.slots[k].begin());
  if (input.size() < 2 * kBlock) return;
  std::copy_n(input.begin() + kBlock, kBlock, e.extension.begin());
  if (e.extension[0] != 0x02) return;
  // A layout that cannot be taken apart is refused only by the changes
  // that need it; the base block's changes leave the extension as it is.
  Cta cta;
  if (ParseCta(e.extension, cta, e.ctaProblem)) e.cta = std::move(cta);
}

void Checksum(std::span<std::uint8_t> block) {
  int sum = 0;
  for (std::size_t i = 0; i + 1 < kBlock; ++i) sum += block[i];
  block[kBlock - 1] = static_cast<std::uint8_t>(-sum);
}

bool Build(const Editable& e, std::vector<std::uint8_t>& out, std::string& error) {
  out.assign(e.size, 0);
  std::array<std::uint8_t, kBlock> base = e.base;
  for (std::size_t k = 0; k < kSlots; ++k) std::copy(e.slots[k].begin(), e.slots[k].end(), base.begin() + static_cast<long>(kFirstSlot + 18 * k));
  Checksum(base);
  std::copy(base.begin(), base.end(), out.begin());
  if (e.size < 2 * kBlock) return true;
  std::copy(e.extension.begin(), e.extension.end(), out.begin() + kBlock);
  if (!e.cta || !e.ctaChanged) return true;
  std::array<std::uint8_t, kBlock> ext = e.extension;
  {
    const Cta& c = *e.cta;
    std::size_t need = 4;
    for (const DataBlock& b : c.blocks) need += b.size();
    need += 18 * c.dtds.size();
    if (need > 127) {
      error = "the changes do not fit in the CTA-861 extension: " + std::to_string(need - 127) + " bytes too many (" +
              std::to_string(need - 4 - 18 * c.dtds.size()) + " bytes of data blocks and " + std::to_string(c.dtds.size()) +
              " detailed timings of 18 in its 123; --max-tmds or --remove-vic can make room)";
      return false;
    }
    ext.fill(0);
    ext[0] = 0x02;
    ext[1] = c.revision;
    std::size_t p = 4;
    for (const DataBlock& b : c.blocks) {
      std::copy(b.begin(), b.end(), ext.begin() + static_cast<long>(p));
      p += b.size();
    }
    ext[2] = static_cast<std::uint8_t>(c.blocks.empty() && c.dtds.empty() ? 0 : p);
    // The count of native timings is never more than the timings there are.
    int timings = static_cast<int>(c.dtds.size());
    for (const Descriptor& d : e.slots) timings += IsTiming(d) ? 1 : 0;
    ext[3] = static_cast<std::uint8_t>((c.flags & 0xF0) | std::min(c.flags & 0x0F, timings));
    for (const Descriptor& d : c.dtds) {
      std::copy(d.begin(), d.end(), ext.begin() + static_cast<long>(p));
      p += 18;
    }
  }
  Checksum(ext);
  std::copy(ext.begin(), ext.end(), out.begin() + kBlock);
  return true;
}

Timing TimingOf(const Descriptor& d) { return DescriptorTiming(d).value_or(Timing{}); }

// The base block's timings first, in their order; its display
// descriptors after them; free slots made dummies.
void PackSlots(Editable& e) {
  std::vector<Descriptor> timings;
  std::vector<Descriptor> others;
  for (const Descriptor& d : e.slots) {
    if (!IsFree(d)) (IsTiming(d) ? timings : others).push_back(d);
  }
  std::size_t k = 0;
  for (const auto* list : {&timings, &others}) {
    for (const Descriptor& d : *list) e.slots[k++] = d;
  }
  while (k < kSlots) e.slots[k++] = kDummy;
}

// The CTA-861 header counts the first timings, base block first, that are
// native. Those that stay native are the ones that were and still lead.
std::vector<Descriptor> Timings(const Editable& e) {
  std::vector<Descriptor> all;
  for (const Descriptor& d : e.slots) {
    if (IsTiming(d)) all.push_back(d);
  }
  if (e.cta) all.insert(all.end(), e.cta->dtds.begin(), e.cta->dtds.end());
  return all;
}

std::vector<Descriptor> NativeTimings(const Editable& e) {
  std::vector<Descriptor> all = Timings(e);
  if (!e.cta) return {};
  all.resize(std::min(all.size(), static_cast<std::size_t>(e.cta->flags & 0x0F)));
  return all;
}

void KeepNative(Editable& e, const std::vector<Descriptor>& native) {
  if (!e.cta) return;
  int leading = 0;
  for (const Descriptor& d : Timings(e)) {
    if (std::find(native.begin(), native.end(), d) == native.end()) break;
    ++leading;
  }
  e.cta->flags = static_cast<std::uint8_t>((e.cta->flags & 0xF0) | leading);
}

std::optional<std::size_t> FreeSlot(const Editable& e) {
  for (std::size_t k = 0; k < kSlots; ++k) {
    if (IsFree(e.slots[k])) return k;
  }
  return std::nullopt;
}

// A descriptor for a VIC's format, as CTA-861 times it; none when a
// descriptor cannot hold it (a clock above 655.35 MHz, a line above 4095).
std::optional<Descriptor> VicDescriptor(int vic, const Editable& e) {
  const VicTiming* v = FindVic(vic);
  if (v == nullptr) return std::nullopt;
  const Blanking& b = v->blanking;
  const int clock = v->pixelClockKhz / 10;
  const int vActive = v->interlaced ? v->height / 2 : v->height;
  const int hBlank = b.hFront + b.hSync + b.hBack;
  const int vBlank = b.vFront + b.vSync + b.vBack;
  if (clock > 0xFFFF || v->width > 4095 || hBlank > 4095 || vActive > 4095 || vBlank > 4095 || b.hFront > 1023 ||
      b.hSync > 1023 || b.vFront > 63 || b.vSync > 63) {
    return std::nullopt;
  }
  // The image size: the screen's, from the base block (cm), in mm.
  const int widthMm = e.base[21] * 10;
  const int heightMm = e.base[22] * 10;
  Descriptor d{};
  d[0] = static_cast<std::uint8_t>(clock & 0xFF);
  d[1] = static_cast<std::uint8_t>(clock >> 8);
  d[2] = static_cast<std::uint8_t>(v->width & 0xFF);
  d[3] = static_cast<std::uint8_t>(hBlank & 0xFF);
  d[4] = static_cast<std::uint8_t>((v->width >> 8) << 4 | hBlank >> 8);
  d[5] = static_cast<std::uint8_t>(vActive & 0xFF);
  d[6] = static_cast<std::uint8_t>(vBlank & 0xFF);
  d[7] = static_cast<std::uint8_t>((vActive >> 8) << 4 | vBlank >> 8);
  d[8] = static_cast<std::uint8_t>(b.hFront & 0xFF);
  d[9] = static_cast<std::uint8_t>(b.hSync & 0xFF);
  d[10] = static_cast<std::uint8_t>((b.vFront & 0x0F) << 4 | (b.vSync & 0x0F));
  d[11] = static_cast<std::uint8_t>((b.hFront >> 8) << 6 | (b.hSync >> 8) << 4 | (b.vFront >> 4) << 2 | (b.vSync >> 4));
  d[12] = static_cast<std::uint8_t>(widthMm & 0xFF);
  d[13] = static_cast<std::uint8_t>(heightMm & 0xFF);
  d[14] = static_cast<std::uint8_t>((widthMm >> 8) << 4 | heightMm >> 8);
  d[17] = static_cast<std::uint8_t>((v->interlaced ? 0x80 : 0) | 0x18 | (b.vPositive ? 0x04 : 0) | (b.hPositive ? 0x02 : 0));
  return d;
}

std::vector<int> ListedVics(const Cta& c) {
  std::vector<int> vics;
  for (const DataBlock& b : c.blocks) {
    if (Tag(b) == 2) {
      for (std::size_t k = 1; k < b.size(); ++k) vics.push_back(SvdVic(b[k]));
    }
  }
  return vics;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// The HDMI block names SVDs by their place in the list (its 3D formats)
// and lists HDMI VICs whose CTA-861 twins are SVDs: both follow the SVDs
// that stay. Says what went; a block it cannot walk is left as it is.
std::vector<std::string> FollowSvds(DataBlock& b, const std::vector<bool>& kept, const std::set<int>& drop) {
  std::vector<std::string> said;
  if (b.size() <= 8 || (b[8] & 0x20) == 0) return said;
  const std::size_t p = 9 + ((b[8] & 0x80) != 0 ? 2 : 0) + ((b[8] & 0x40) != 0 ? 2 : 0);
  if (p + 1 >= b.size()) return said;
  const std::size_t vicLength = b[p + 1] >> 5;
  const std::size_t length3d = b[p + 1] & 0x1Fu;
  const std::size_t v = p + 2;
  if (v + vicLength + length3d > b.size()) return said;

  constexpr std::array<int, 5> kTwin{0, 95, 94, 93, 98};  // HDMI VIC 1..4 as CTA-861 VICs
  std::vector<std::uint8_t> vics;
  for (std::size_t k = 0; k < vicLength; ++k) {
    const int h = b[v + k];
    if (h >= 1 && h <= 4 && drop.count(kTwin[static_cast<std::size_t>(h)]) != 0) {
      said.push_back("HDMI VIC " + std::to_string(h));
      continue;
    }
    vics.push_back(b[v + k]);
  }

  std::vector<int> place(kept.size(), -1);
  int n = 0;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i]) place[i] = n++;
  }
  const auto stays = [&](std::size_t i) { return i < kept.size() && kept[i] && place[i] < 16; };
  const std::vector<std::uint8_t> old3d(b.begin() + static_cast<long>(v + vicLength), b.begin() + static_cast<long>(v + vicLength + length3d));
  std::vector<std::uint8_t> new3d;
  const int oldMulti = (b[p] >> 5) & 3;
  int multi = oldMulti;
  bool lost = false;  // a 3D format of a removed SVD
  std::size_t q = 0;
  if (multi == 1 || multi == 2) {
    if (old3d.size() < (multi == 2 ? 4u : 2u)) return {};
    const unsigned mask = multi == 2 ? static_cast<unsigned>(old3d[2] << 8 | old3d[3]) : 0xFFFFu;
    unsigned moved = 0;
    int firstKept = 0;
    for (std::size_t i = 0; i < 16; ++i) {
      if (stays(i) && (mask >> i & 1) != 0) moved |= 1u << place[i];
      lost = lost || (i < kept.size() && !kept[i] && (mask >> i & 1) != 0);
      if (stays(i)) ++firstKept;
    }
    // "The first 16" still the same SVDs, less those removed: the structure
    // stays for all; otherwise it is said by a mask.
    if (multi == 1 && firstKept < std::min(16, n)) multi = 2;
    q = oldMulti == 2 ? 4 : 2;
    if (multi == 2 && moved == 0) {
      multi = 0;
    } else {
      new3d.insert(new3d.end(), old3d.begin(), old3d.begin() + 2);
      if (multi == 2) {
        new3d.push_back(static_cast<std::uint8_t>(moved >> 8));
        new3d.push_back(static_cast<std::uint8_t>(moved & 0xFF));
      }
    }
  }
  while (q < old3d.size()) {
    const std::size_t size = (old3d[q] & 0x0F) >= 8 ? 2 : 1;
    if (q + size > old3d.size()) {
      new3d.insert(new3d.end(), old3d.begin() + static_cast<long>(q), old3d.end());
      break;
    }
    const std::size_t index = old3d[q] >> 4;
    if (stays(index)) {
      new3d.push_back(static_cast<std::uint8_t>(place[index] << 4 | (old3d[q] & 0x0F)));
      if (size == 2) new3d.push_back(old3d[q + 1]);
    } else {
      lost = true;
    }
    q += size;
  }
  if (vics.size() == vicLength && new3d == old3d && multi == oldMulti) return said;
  if (lost) said.push_back("their 3D formats");
  DataBlock out(b.begin(), b.begin() + static_cast<long>(v));
  out[p] = static_cast<std::uint8_t>((b[p] & ~0x60) | multi << 5);
  out[p + 1] = static_cast<std::uint8_t>(vics.size() << 5 | new3d.size());
  out.insert(out.end(), vics.begin(), vics.end());
  out.insert(out.end(), new3d.begin(), new3d.end());
  out.insert(out.end(), b.begin() + static_cast<long>(v + vicLength + length3d), b.end());
  out[0] = static_cast<std::uint8_t>(3 << 5 | (out.size() - 1));
  b = std::move(out);
  return said;
}

// Removes `drop` from every list of VICs: the video blocks, the 4:2:0
// video block and the 4:2:0 map, whose bits follow the SVDs that stay.
// Blocks left with nothing are removed.
std::vector<std::string> RemoveVics(Cta& c, const std::set<int>& drop) {
  std::vector<std::string> said;  // what went with them from the HDMI block
  std::vector<bool> kept;  // for each SVD of the block, in order
  for (const DataBlock& b : c.blocks) {
    if (Tag(b) != 2) continue;
    for (std::size_t k = 1; k < b.size(); ++k) kept.push_back(drop.count(SvdVic(b[k])) == 0);
  }
  std::vector<DataBlock> blocks;
  for (DataBlock b : c.blocks) {
    if (Tag(b) == 2) {
      DataBlock svds{b[0]};
      for (std::size_t k = 1; k < b.size(); ++k) {
        if (drop.count(SvdVic(b[k])) == 0) svds.push_back(b[k]);
      }
      if (svds.size() == 1) continue;
      svds[0] = static_cast<std::uint8_t>(2 << 5 | (svds.size() - 1));
      blocks.push_back(std::move(svds));
    } else if (ExtendedTag(b) == kY420VideoTag) {
      DataBlock only{b[0], b[1]};
      for (std::size_t k = 2; k < b.size(); ++k) {
        if (drop.count(b[k]) == 0) only.push_back(b[k]);
      }
      if (only.size() == 2) continue;
      only[0] = static_cast<std::uint8_t>(7 << 5 | (only.size() - 1));
      blocks.push_back(std::move(only));
    } else if (ExtendedTag(b) == kY420MapTag && b.size() > 2) {
      std::vector<bool> bits;
      for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::size_t byte = 2 + i / 8;
        const bool set = byte < b.size() && ((b[byte] >> (i % 8)) & 1) != 0;
        if (kept[i]) bits.push_back(set);
      }
      // Trailing bytes of zeros said nothing; a map of nothing is dropped,
      // for an empty map would mean every SVD.
      while (!bits.empty() && !bits.back()) bits.pop_back();
      if (bits.empty()) continue;
      DataBlock map{0, b[1]};
      for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t byte = 0;
        for (std::size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= static_cast<std::uint8_t>(bits[i + j] << j);
        map.push_back(byte);
      }
      map[0] = static_cast<std::uint8_t>(7 << 5 | (map.size() - 1));
      blocks.push_back(std::move(map));
    } else {
      if (Oui(b) == kHdmiOui) {
        const auto gone = FollowSvds(b, kept, drop);
        said.insert(said.end(), gone.begin(), gone.end());
      }
      blocks.push_back(std::move(b));
    }
  }
  c.blocks = std::move(blocks);
  return said;
}

// The VICs the sink takes at 4:2:0 besides 4:4:4 (its capability map).
std::set<int> AlsoAt420(const Cta& c) {
  std::set<int> also;
  std::vector<int> svds = ListedVics(c);
  for (const DataBlock& b : c.blocks) {
    if (ExtendedTag(b) != kY420MapTag) continue;
    if (b.size() <= 2) {
      also.insert(svds.begin(), svds.end());
      continue;
    }
    for (std::size_t i = 0; i < svds.size(); ++i) {
      const std::size_t byte = 2 + i / 8;
      if (byte < b.size() && ((b[byte] >> (i % 8)) & 1) != 0) also.insert(svds[i]);
    }
  }
  return also;
}

// The pixel clock of a standard timing as CVT times it (kHz); the DMT
// modes a standard timing names mostly are CVT's.
int StandardClockKhz(std::uint8_t first, std::uint8_t second, std::uint8_t revision) {
  const int width = (first + 31) * 8;
  static constexpr std::array<std::array<int, 2>, 4> kAspect{{{16, 10}, {4, 3}, {5, 4}, {16, 9}}};
  const auto& aspect = kAspect[static_cast<std::size_t>(second >> 6)];
  const int height = second >> 6 == 0 && revision < 3 ? width : width * aspect[1] / aspect[0];
  const double rate = (second & 0x3F) + 60;
  constexpr double kMinVsyncBp = 550;  // us
  constexpr int kMinVPorch = 3;
  const double hPeriod = (1e6 / rate - kMinVsyncBp) / (height + kMinVPorch);  // us
  const double duty = std::max(20.0, 30 - 300 * hPeriod / 1000);
  const int hBlank = static_cast<int>(width * duty / (100 - duty) / 16) * 16;
  return static_cast<int>(std::floor((width + hBlank) / hPeriod / 0.25) * 250);
}

// The established timings, bytes 35 to 37 bit by bit from the top, and
// their pixel clocks (kHz).
constexpr std::array<int, 17> kEstablishedKhz{28320, 35500, 25175, 30240, 31500, 31500, 36000, 40000,
                                              50000, 49500, 57284, 44900, 65000, 75000, 78750, 135000, 100000};

class CEditor {
 public:
  explicit CEditor(Editable& e) : m_e(e) {}

  bool Apply(const EdidChange& c, std::string& done, std::string& error) {
    using Kind = EdidChange::Kind;
    switch (c.kind) {
      case Kind::Name: return Name(c.text, done, error);
      case Kind::Serial: return Serial(c.number, done, error);
      case Kind::Vendor: return Vendor(c.text, done, error);
      case Kind::Product: return Product(c.number, done, error);
      case Kind::Preferred: {
        const std::vector<Descriptor> native = NativeTimings(m_e);
        if (!Preferred(c.text, done, error)) return false;
        if (m_e.cta && (m_e.cta->flags & 0x0F) != 0) {
          const std::uint8_t before = m_e.cta->flags;
          KeepNative(m_e, native);
          m_e.ctaChanged = m_e.ctaChanged || m_e.cta->flags != before;
          if (m_e.cta->flags != before) done += "; native timings counted " + std::to_string(m_e.cta->flags & 0x0F);
        }
        return true;
      }
      case Kind::RemoveVics: return RemoveVicList(c.vics, done, error);
      case Kind::MaxTmds: return MaxTmds(c.number, done, error);
      case Kind::AudioLpcm2: return Audio({0x09, 0x07, 0x07}, {0x01, 0x00, 0x00}, "one LPCM descriptor, 2 channels, 32/44.1/48 kHz, 16/20/24 bit; speakers FL/FR", done, error);
      case Kind::AudioFrom: return AudioFrom(c.other, done, error);
      case Kind::NoHdr: return NoHdr(done, error);
    }
    return false;
  }

 private:
  // The changes to the extension call this first: it is laid out again.
  bool NeedCta(const char* what, std::string& error) {
    if (m_e.cta) {
      m_e.ctaChanged = true;
      return true;
    }
    error = std::string(what) + " changes the CTA-861 extension, and " +
            (m_e.ctaProblem.empty() ? std::string("this EDID has none") : m_e.ctaProblem);
    return false;
  }

  bool Name(const std::string& text, std::string& done, std::string& error) {
    if (text.empty() || text.size() > 13 ||
        !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 0x20 && ch <= 0x7E; })) {
      error = "--name takes 1 to 13 printable ASCII characters, not " + std::to_string(text.size()) +
              (text.size() <= 13 ? " with others among them" : "");
      return false;
    }
    std::optional<std::size_t> slot;
    for (std::size_t k = 0; k < kSlots && !slot; ++k) {
      if (IsDisplay(m_e.slots[k], 0xFC)) slot = k;
    }
    if (!slot) slot = FreeSlot(m_e);
    if (!slot) {
      std::vector<std::string> held;
      for (const Descriptor& d : m_e.slots) held.push_back(Held(d));
      error = "no descriptor is free for a name: the four hold " + Joined(held);
      return false;
    }
    Descriptor d{0, 0, 0, 0xFC, 0};
    std::fill(d.begin() + 5, d.end(), 0x20);
    std::copy(text.begin(), text.end(), d.begin() + 5);
    if (text.size() < 13) d[5 + text.size()] = 0x0A;
    m_e.slots[*slot] = d;
    done = "name '" + text + "' (descriptor " + std::to_string(*slot + 1) + ")";
    return true;
  }

  bool Serial(long long n, std::string& done, std::string& error) {
    if (n < 0 || n > 0xFFFFFFFFLL) {
      error = "--serial takes a number from 0 to 4294967295";
      return false;
    }
    for (int i = 0; i < 4; ++i) m_e.base[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
    done = "serial number " + std::to_string(n);
    return true;
  }

  bool Vendor(const std::string& text, std::string& done, std::string& error) {
    if (text.size() != 3 || !std::all_of(text.begin(), text.end(), [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)); })) {
      error = "--vendor takes three letters (a PNP ID such as SAM), not '" + text + "'";
      return false;
    }
    int id = 0;
    std::string upper;
    for (char ch : text) {
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      id = id << 5 | (upper.back() - '@');
    }
    m_e.base[8] = static_cast<std::uint8_t>(id >> 8);
    m_e.base[9] = static_cast<std::uint8_t>(id & 0xFF);
    done = "vendor " + upper;
    return true;
  }

  bool Product(long long n, std::string& done, std::string& error) {
    if (n < 0 || n > 0xFFFF) {
      error = "--product takes a number from 0 to 65535";
      return false;
    }
    m_e.base[10] = static_cast<std::uint8_t>(n & 0xFF);
    m_e.base[11] = static_cast<std::uint8_t>(n >> 8);
    done = "product " + std::to_string(n);
    return true;
  }

  bool Preferred(const std::string& text, std::string& done, std::string& error) {
    int w = 0, h = 0;
    double hz = 0;
    char sep = 0;
    char at = 0;
    const bool interlaced = text.find('i') != std::string::npos;
    std::string mode = text;
    mode.erase(std::remove(mode.begin(), mode.end(), 'i'), mode.end());
    if (std::sscanf(mode.c_str(), "%d%c%d%c%lf", &w, &sep, &h, &at, &hz) != 5 || sep != 'x' || at != '@' || hz <= 0) {
      error = "--preferred takes WIDTHxHEIGHT@HZ (3840x2160@60, 1920x1080i@50), not '" + text + "'";
      return false;
    }
    const long rate = std::lround(hz);
    const auto matches = [&](const Timing& t) {
      return t.width == w && t.height == h && t.interlaced == interlaced && std::lround(t.refresh) == rate;
    };
    const std::string wanted = ModeName(Timing{w, h, interlaced, static_cast<double>(rate), 0});
    if (!IsTiming(m_e.slots[0])) {
      error = "the base block's first descriptor is no timing: there is no preferred timing to replace";
      return false;
    }
    for (std::size_t k = 0; k < kSlots; ++k) {
      if (!IsTiming(m_e.slots[k]) || !matches(TimingOf(m_e.slots[k]))) continue;
      std::swap(m_e.slots[0], m_e.slots[k]);
      done = "preferred " + wanted + (k == 0 ? " (it was already)" : " (the base block's timing " + std::to_string(k + 1) + ")");
      return true;
    }
    if (m_e.cta) {
      for (Descriptor& d : m_e.cta->dtds) {
        if (!matches(TimingOf(d))) continue;
        std::swap(m_e.slots[0], d);
        m_e.ctaChanged = true;
        done = "preferred " + wanted + " (from the extension's timings; the old one moved there)";
        return true;
      }
      for (int vic : ListedVics(*m_e.cta)) {
        const VicTiming* v = FindVic(vic);
        if (v == nullptr || !matches(VicAsTiming(vic))) continue;
        const auto d = VicDescriptor(vic, m_e);
        if (!d) {
          error = wanted + " (VIC " + std::to_string(vic) + ") is beyond what a detailed timing can hold";
          return false;
        }
        // The old preferred timing stays: in a free descriptor of the base
        // block, or first among the extension's timings.
        std::string moved = "the extension";
        if (const auto slot = FreeSlot(m_e)) {
          m_e.slots[*slot] = m_e.slots[0];
          moved = "descriptor 2";
        } else {
          m_e.cta->dtds.insert(m_e.cta->dtds.begin(), m_e.slots[0]);
          m_e.ctaChanged = true;
        }
        m_e.slots[0] = *d;
        PackSlots(m_e);
        done = "preferred " + wanted + " (built from VIC " + std::to_string(vic) + "; the old one moved to " + moved + ")";
        return true;
      }
    }
    std::vector<std::string> modes;
    for (const Descriptor& d : m_e.slots) {
      if (IsTiming(d)) modes.push_back(ModeName(TimingOf(d)));
    }
    if (m_e.cta) {
      for (const Descriptor& d : m_e.cta->dtds) modes.push_back(ModeName(TimingOf(d)));
      for (int vic : ListedVics(*m_e.cta)) {
        if (FindVic(vic) != nullptr) modes.push_back(ModeName(VicAsTiming(vic)));
      }
    }
    std::sort(modes.begin(), modes.end());
    modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
    error = wanted + " is not among this EDID's modes: it has " + (modes.empty() ? std::string("none") : Joined(modes));
    return false;
  }

  bool RemoveVicList(const std::vector<int>& vics, std::string& done, std::string& error) {
    if (!NeedCta("--remove-vic", error)) return false;
    const std::vector<int> listed = ListedVics(*m_e.cta);
    std::set<int> present(listed.begin(), listed.end());
    for (const DataBlock& b : m_e.cta->blocks) {
      if (ExtendedTag(b) == kY420VideoTag) present.insert(b.begin() + 2, b.end());
    }
    std::vector<std::string> names;
    for (int vic : vics) {
      if (present.count(vic) == 0) {
        error = "VIC " + std::to_string(vic) + " is not listed in this EDID";
        return false;
      }
      names.push_back(std::to_string(vic));
    }
    const auto also = RemoveVics(*m_e.cta, std::set<int>(vics.begin(), vics.end()));
    done = "removed VIC " + Joined(names) + (also.empty() ? "" : ", with " + Joined(also));
    return true;
  }

  bool MaxTmds(long long mhz, std::string& done, std::string& error) {
    if (mhz < 25 || mhz > 1275) {
      error = "--max-tmds takes MHz from 25 to 1275";
      return false;
    }
    if (!m_e.ctaProblem.empty() && !NeedCta("--max-tmds", error)) return false;
    if (m_e.cta) m_e.ctaChanged = true;
    const long long limit = mhz * 1000;  // kHz
    const Timing slowest = Slowest();
    std::vector<std::string> said;
    // Detailed timings beyond it go, from the base block and the extension.
    const auto beyond = [&](const Descriptor& d) { return IsTiming(d) && TimingOf(d).pixelClockKhz > limit; };
    const std::vector<Descriptor> native = NativeTimings(m_e);
    int dropped = 0;
    for (Descriptor& d : m_e.slots) {
      if (beyond(d)) {
        d = kDummy;
        ++dropped;
      }
    }
    if (m_e.cta) {
      auto& dtds = m_e.cta->dtds;
      const auto before = dtds.size();
      dtds.erase(std::remove_if(dtds.begin(), dtds.end(), beyond), dtds.end());
      dropped += static_cast<int>(before - dtds.size());
    }
    if (dropped > 0) said.push_back(std::to_string(dropped) + " detailed timing" + (dropped > 1 ? "s" : "") + " removed");
    int standard = 0;
    for (std::size_t at = 38; at < 54; at += 2) {
      const bool unused = m_e.base[at] <= 1 && m_e.base[at + 1] <= 1;
      if (unused || StandardClockKhz(m_e.base[at], m_e.base[at + 1], m_e.base[19]) <= limit) continue;
      m_e.base[at] = m_e.base[at + 1] = 1;
      ++standard;
    }
    if (standard > 0) said.push_back(std::to_string(standard) + " standard timing" + (standard > 1 ? "s" : "") + " removed");
    int established = 0;
    for (std::size_t bit = 0; bit < kEstablishedKhz.size(); ++bit) {
      std::uint8_t& byte = m_e.base[35 + bit / 8];
      const auto mask = static_cast<std::uint8_t>(0x80 >> (bit % 8));
      if ((byte & mask) == 0 || kEstablishedKhz[bit] <= limit) continue;
      byte = static_cast<std::uint8_t>(byte & ~mask);
      ++established;
    }
    if (established > 0) said.push_back(std::to_string(established) + " established timing" + (established > 1 ? "s" : "") + " removed");
    PackSlots(m_e);
    if (m_e.cta) {
      Cta& c = *m_e.cta;
      const std::set<int> also = AlsoAt420(c);
      std::set<int> drop;
      std::vector<int> to420;
      for (int vic : ListedVics(c)) {
        const VicTiming* v = FindVic(vic);
        if (v == nullptr || v->pixelClockKhz <= limit) continue;
        drop.insert(vic);
        // The sink takes it at 4:2:0 too, and that fits: kept as 4:2:0 only.
        if (also.count(vic) != 0 && v->pixelClockKhz / 2 <= limit) to420.push_back(vic);
      }
      for (const DataBlock& b : c.blocks) {
        if (ExtendedTag(b) != kY420VideoTag) continue;
        for (std::size_t k = 2; k < b.size(); ++k) {
          const VicTiming* v = FindVic(b[k]);
          if (v != nullptr && v->pixelClockKhz / 2 > limit) drop.insert(b[k]);
        }
      }
      std::vector<std::string> gone;
      for (int vic : drop) {
        if (std::find(to420.begin(), to420.end(), vic) == to420.end()) gone.push_back(std::to_string(vic));
      }
      // HDMI VICs 1 to 4 are CTA-861 VICs 95, 94, 93 and 98 (297 MHz):
      // beyond the link they go even where their twins were never listed.
      std::set<int> twins = drop;
      if (FindVic(95)->pixelClockKhz > limit) twins.insert({93, 94, 95, 98});
      const auto withThem = RemoveVics(c, twins);
      if (!to420.empty()) {
        auto only = std::find_if(c.blocks.begin(), c.blocks.end(), [](const DataBlock& b) { return ExtendedTag(b) == kY420VideoTag; });
        if (only == c.blocks.end()) {
          c.blocks.push_back(Block(7, {static_cast<std::uint8_t>(kY420VideoTag)}));
          only = c.blocks.end() - 1;
        }
        std::vector<std::string> kept;
        for (int vic : to420) {
          if (std::find(only->begin() + 2, only->end(), vic) == only->end()) only->push_back(static_cast<std::uint8_t>(vic));
          kept.push_back(std::to_string(vic));
        }
        (*only)[0] = static_cast<std::uint8_t>(7 << 5 | (only->size() - 1));
        said.push_back("VIC " + Joined(kept) + " kept as 4:2:0 only");
      }
      if (!gone.empty()) said.push_back("VIC " + Joined(gone) + " removed");
      if (!withThem.empty()) said.push_back(Joined(withThem) + " removed");
      for (DataBlock& b : c.blocks) {
        if (Oui(b) == kHdmiOui && b.size() > 7 && b[7] * 5 > mhz) {
          said.push_back("HDMI maximum TMDS clock " + std::to_string(b[7] * 5) + " -> " + std::to_string(mhz / 5 * 5) + " MHz");
          b[7] = static_cast<std::uint8_t>(mhz / 5);
        }
      }
      if (mhz <= 340) {
        const auto before = c.blocks.size();
        c.blocks.erase(std::remove_if(c.blocks.begin(), c.blocks.end(), IsForum), c.blocks.end());
        if (c.blocks.size() != before) said.push_back("HDMI Forum block removed (340 MHz or less)");
      } else {
        for (DataBlock& b : c.blocks) {
          if (!IsForum(b) || b.size() <= 7) continue;
          // Its TMDS rate clamped, and no fixed-rate link, nor DSC over one.
          if (b[5] * 5 > mhz) {
            said.push_back("HDMI Forum maximum TMDS character rate " + std::to_string(b[5] * 5) + " -> " +
                           std::to_string(mhz / 5 * 5) + " MHz");
            b[5] = static_cast<std::uint8_t>(mhz / 5);
          }
          if ((b[7] & 0xF0) != 0) said.push_back("HDMI Forum FRL rate removed");
          b[7] &= 0x0F;
          for (std::size_t k = 11; k < b.size() && k <= 13; ++k) b[k] = 0;
        }
      }
    }
    // The range limits' maximum pixel clock no higher than the link.
    for (Descriptor& d : m_e.slots) {
      if (IsDisplay(d, 0xFD) && d[9] * 10 > mhz) d[9] = static_cast<std::uint8_t>((mhz + 9) / 10);
    }
    // The preferred timing: the extension's first, or one built from a VIC.
    if (!IsTiming(m_e.slots[0])) {
      const auto slot = FreeSlot(m_e);
      if (m_e.cta && !m_e.cta->dtds.empty() && slot) {
        m_e.slots[*slot] = m_e.cta->dtds.front();
        m_e.cta->dtds.erase(m_e.cta->dtds.begin());
        PackSlots(m_e);
      } else if (m_e.cta && slot) {
        std::optional<Descriptor> built;
        int from = 0;
        for (int vic : ListedVics(*m_e.cta)) {
          const auto d = VicDescriptor(vic, m_e);
          // Progressive before interlaced, then the fastest.
          const auto rank = [](const Descriptor& x) { return std::pair(!TimingOf(x).interlaced, TimingOf(x).pixelClockKhz); };
          if (d && (!built || rank(*d) > rank(*built))) {
            built = d;
            from = vic;
          }
        }
        if (built) {
          m_e.slots[*slot] = *built;
          PackSlots(m_e);
          said.push_back("preferred timing built from VIC " + std::to_string(from));
        }
      }
    }
    bool any = IsTiming(m_e.slots[0]);
    if (m_e.cta) {
      any = any || !ListedVics(*m_e.cta).empty() || !m_e.cta->dtds.empty();
      for (const DataBlock& b : m_e.cta->blocks) any = any || (ExtendedTag(b) == kY420VideoTag && b.size() > 2);
    }
    if (!any) {
      error = "no mode would remain at " + std::to_string(mhz) + " MHz: the slowest it has, " + ModeName(slowest) +
              ", needs " + Mhz(slowest.pixelClockKhz);
      return false;
    }
    if (!IsTiming(m_e.slots[0])) {
      error = "of the modes that would remain at " + std::to_string(mhz) +
              " MHz, none can be the preferred timing (a 4:2:0-only mode or a VIC a detailed timing cannot hold)";
      return false;
    }
    KeepNative(m_e, native);
    done = "max TMDS " + std::to_string(mhz) + " MHz: " + (said.empty() ? std::string("nothing was beyond it") : Joined(said));
    return true;
  }

  // The mode of the lowest pixel clock the EDID lists, 4:2:0-only at half.
  Timing Slowest() const {
    std::vector<Timing> all;
    for (const Descriptor& d : m_e.slots) {
      if (IsTiming(d)) all.push_back(TimingOf(d));
    }
    if (m_e.cta) {
      for (const Descriptor& d : m_e.cta->dtds) all.push_back(TimingOf(d));
      for (int vic : ListedVics(*m_e.cta)) {
        if (FindVic(vic) != nullptr) all.push_back(VicAsTiming(vic));
      }
      for (const DataBlock& b : m_e.cta->blocks) {
        for (std::size_t k = 2; ExtendedTag(b) == kY420VideoTag && k < b.size(); ++k) {
          if (FindVic(b[k]) == nullptr) continue;
          Timing t = VicAsTiming(b[k]);
          t.pixelClockKhz /= 2;
          all.push_back(t);
        }
      }
    }
    const auto lowest = std::min_element(all.begin(), all.end(), [](const Timing& a, const Timing& b) { return a.pixelClockKhz < b.pixelClockKhz; });
    return lowest == all.end() ? Timing{} : *lowest;
  }

  static std::string Mhz(long long khz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MHz", static_cast<double>(khz) / 1000);
    return text;
  }

  bool Audio(const std::vector<std::uint8_t>& sads, const std::vector<std::uint8_t>& speakers, const std::string& what,
             std::string& done, std::string& error) {
    if (!NeedCta("--audio", error)) return false;
    Cta& c = *m_e.cta;
    std::vector<DataBlock> blocks;
    bool placed = false;
    const auto place = [&] {
      for (std::size_t i = 0; i < sads.size(); i += 30) {
        blocks.push_back(Block(1, std::vector<std::uint8_t>(sads.begin() + static_cast<long>(i),
                                                            sads.begin() + static_cast<long>(std::min(sads.size(), i + 30)))));
      }
      if (!speakers.empty()) blocks.push_back(Block(4, speakers));
      placed = true;
    };
    for (DataBlock& b : c.blocks) {
      if (Tag(b) == 1 || Tag(b) == 4) {
        if (!placed) place();
        continue;
      }
      blocks.push_back(std::move(b));
    }
    if (!placed) {
      // Where audio blocks usually stand: after the video blocks.
      std::vector<DataBlock> rest(std::make_move_iterator(blocks.begin()), std::make_move_iterator(blocks.end()));
      blocks.clear();
      std::size_t at = 0;
      while (at < rest.size() && Tag(rest[at]) == 2) blocks.push_back(std::move(rest[at++]));
      place();
      for (; at < rest.size(); ++at) blocks.push_back(std::move(rest[at]));
    }
    c.blocks = std::move(blocks);
    c.flags |= 0x40;  // basic audio
    done = "audio: " + what;
    if (c.revision < 3) {
      // Revisions 1 and 2 carry no data blocks.
      done += "; CTA-861 revision " + std::to_string(c.revision) + " -> 3, for its data blocks";
      c.revision = 3;
    }
    return true;
  }

  bool AudioFrom(const std::vector<std::uint8_t>& other, std::string& done, std::string& error) {
    Editable source;
    if (other.size() >= 2 * kBlock) Parse(std::span<const std::uint8_t>(other.data(), 2 * kBlock), source);
    if (!source.cta) {
      error = "--audio-from: that EDID has no CTA-861 extension to take audio from" +
              (source.ctaProblem.empty() ? std::string() : " (" + source.ctaProblem + ")");
      return false;
    }
    std::vector<std::uint8_t> sads;
    std::vector<std::uint8_t> speakers;
    for (const DataBlock& b : source.cta->blocks) {
      if (Tag(b) == 1) sads.insert(sads.end(), b.begin() + 1, b.begin() + 1 + (Length(b) / 3) * 3);
      if (Tag(b) == 4 && speakers.empty()) speakers.assign(b.begin() + 1, b.end());
    }
    if (sads.empty()) {
      error = "--audio-from: that EDID lists no audio";
      return false;
    }
    return Audio(sads, speakers,
                 std::to_string(sads.size() / 3) + " descriptors and " +
                     (speakers.empty() ? std::string("no speaker allocation") : std::string("the speaker allocation")) +
                     " of the other EDID",
                 done, error);
  }

  bool NoHdr(std::string& done, std::string& error) {
    if (!NeedCta("--no-hdr", error)) return false;
    auto& blocks = m_e.cta->blocks;
    const auto before = blocks.size();
    blocks.erase(std::remove_if(blocks.begin(), blocks.end(), [](const DataBlock& b) { return ExtendedTag(b) == kHdrStaticTag; }),
                 blocks.end());
    // Asked for an EDID without HDR, and it has none: that is done already.
    done = blocks.size() == before ? "no HDR static metadata block: nothing to remove" : "HDR static metadata block removed";
    return true;
  }

  Editable& m_e;
};

}  // namespace

EditOutcome EditEdid(std::span<const std::uint8_t> input, const std::vector<EdidChange>& changes) {
  EditOutcome outcome;
  if (input.size() != kBlock && input.size() != 2 * kBlock) {
    outcome.error = "it holds " + std::to_string(input.size()) +
                    " bytes: only an EDID of 128 or 256 bytes is edited, as the unit's slot holds 256";
    return outcome;
  }
  if (!std::equal(kHeader.begin(), kHeader.end(), input.begin())) {
    outcome.error = "it does not begin with the EDID header 00 ff ff ff ff ff ff 00";
    return outcome;
  }
  Editable e;
  Parse(input, e);
  CEditor editor(e);
  for (const EdidChange& change : changes) {
    std::string done;
    if (!editor.Apply(change, done, outcome.error)) return outcome;
    outcome.done.push_back(std::move(done));
  }
  if (!Build(e, outcome.bytes, outcome.error)) {
    outcome.bytes.clear();
    return outcome;
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace vantorq::edid
