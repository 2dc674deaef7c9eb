#include "EdidDetail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "EdidReport.h"

namespace vantorq::edid {

namespace {

constexpr std::string_view kEnd = "\r\n";

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// One way every timing is shown: mode, then its pixel clock.
std::string TimingLine(const Timing& t) { return ModeName(t) + ", " + Fixed(t.pixelClockKhz / 1000.0, 3) + " MHz"; }

std::string VicLine(int vic) {
  const Timing t = VicAsTiming(vic);
  return "VIC " + std::to_string(vic) + (t.width != 0 ? " " + ModeName(t) : std::string(" (unassigned)"));
}

std::string Joined(const std::vector<std::string>& items, std::string_view between = ", ") {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += between;
    text += item;
  }
  return text;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// The TMDS clock a link must carry for the sink's highest rate: from its
// HDMI Forum block, else its HDMI block, else HDMI's 165 MHz; a sink
// without either (DVI, DisplayPort) by its range limits.
std::optional<int> TmdsLimit(const EdidModel& m) {
  if (m.hdmiForum && m.hdmiForum->maxTmdsMhz) return m.hdmiForum->maxTmdsMhz;
  if (m.hdmi) return m.hdmi->maxTmdsMhz.value_or(165);
  if (m.range && m.range->maxPixelClockMhz > 0) return m.range->maxPixelClockMhz;
  return std::nullopt;
}

bool Higher(const Timing& a, const Timing& b) {
  const double areaA = static_cast<double>(a.width) * a.height;
  const double areaB = static_cast<double>(b.width) * b.height;
  if (areaA != areaB) return areaA > areaB;
  if (std::lround(a.refresh) != std::lround(b.refresh)) return a.refresh > b.refresh;
  return a.interlaced < b.interlaced;
}

// The mode and the TMDS clock and bit rate its link must carry.
std::string Link(const Timing& t, int divider) {
  const double mhz = t.pixelClockKhz / 1000.0 / divider;
  std::string text = ModeName(t) + " at " + Fixed(mhz, 0) + " MHz TMDS (" + Fixed(mhz * 30 / 1000, 1) + " Gbit/s";
  if (mhz > 600) {
    text += ", FRL";
  } else if (mhz > 340) {
    text += ", HDMI 2.0";
  }
  return text + ")";
}

std::string HighestModes(const EdidModel& m) {
  const auto limit = TmdsLimit(m);
  const auto fits = [&](const Timing& t, int divider) {
    return t.width != 0 && (!limit || t.pixelClockKhz <= *limit * 1000 * divider);
  };
  std::optional<Timing> full;
  std::optional<Timing> half;
  const auto consider = [](std::optional<Timing>& best, const Timing& t) {
    if (!best || Higher(t, *best)) best = t;
  };
  for (const Timing& t : m.detailed) {
    if (fits(t, 1)) consider(full, t);
  }
  for (const ShortVideo& v : m.video) {
    const Timing t = VicAsTiming(v.vic);
    const bool only420 = std::find(m.ycbcr420Only.begin(), m.ycbcr420Only.end(), v.vic) != m.ycbcr420Only.end();
    if (!only420 && fits(t, 1)) consider(full, t);
  }
  for (const auto* list : {&m.ycbcr420Only, &m.ycbcr420Also}) {
    for (int vic : *list) {
      const Timing t = VicAsTiming(vic);
      if (fits(t, 2)) consider(half, t);
    }
  }
  return "Highest mode: 4:4:4 " + (full ? Link(*full, 1) : std::string("none")) + "; 4:2:0 " +
         (half ? Link(*half, 2) : std::string("none")) +
         (limit ? "; sink limit " + std::to_string(*limit) + " MHz" : std::string());
}

}  // namespace

std::vector<std::string> InstallerAnswers(const EdidModel& m) {
  std::vector<std::string> lines{HighestModes(m)};
  if (m.hdr && !m.hdr->eotf.empty()) {
    std::vector<std::string> kinds;
    for (const std::string& e : m.hdr->eotf) {
      if (e == "PQ") kinds.emplace_back("HDR10 (PQ)");
      if (e == "HLG") kinds.emplace_back("HLG");
      if (e == "HDR") kinds.emplace_back("HDR gamma");
    }
    lines.push_back("HDR: " + (kinds.empty() ? std::string("none (SDR only)") : Joined(kinds)));
  } else {
    lines.emplace_back("HDR: none");
  }
  if (m.audio.empty()) {
    lines.emplace_back("Audio: none listed");
  } else {
    const auto richest = std::max_element(m.audio.begin(), m.audio.end(), [](const ShortAudio& a, const ShortAudio& b) {
      const double rateA = a.ratesKhz.empty() ? 0 : a.ratesKhz.back();
      const double rateB = b.ratesKhz.empty() ? 0 : b.ratesKhz.back();
      return std::tuple(a.channels, rateA, a.formatCode) < std::tuple(b.channels, rateB, b.formatCode);
    });
    lines.push_back("Audio: " + AudioFormatName(*richest) + ", " + std::to_string(richest->channels) + " channels" +
                    (richest->ratesKhz.empty() ? std::string() : ", up to " + Fixed(richest->ratesKhz.back(), 1) + " kHz"));
  }
  lines.push_back("Speakers: " + (m.speakers.empty() ? std::string("not given") : Joined(m.speakers)));
  lines.push_back("Physical address: " +
                  (m.hdmi && !m.hdmi->physicalAddress.empty() ? m.hdmi->physicalAddress : std::string("none (no HDMI block)")));
  return lines;
}

std::string DetailReport(std::span<const std::uint8_t> input, const std::vector<std::string>& afterAnswers) {
  const EdidModel m = DecodeModel(input);
  std::string out;
  const auto line = [&](const std::string& text) {
    out += text;
    out += kEnd;
  };
  for (const std::string& answer : InstallerAnswers(m)) line(answer);
  line("");
  if (!afterAnswers.empty()) {
    for (const std::string& text : afterAnswers) line(text);
    line("");
  }

  EdidBuffer edid;
  edid.fill(0xFF);
  std::copy_n(input.begin(), std::min(input.size(), edid.size()), edid.begin());
  EdidReport report;
  for (int section : {kVideoSection, kAudioSection, kGeneralSection}) report.DecodeSection(edid, section);
  out += report.m_strVideo + report.m_strAudio + report.m_strGeneral;
  line("");

  line("Block 0, base block:");
  line("  Manufacturer: " + m.vendor + ", product " + std::to_string(m.product) + ", serial number " +
       std::to_string(m.serial));
  if (m.name) line("  Name: " + *m.name);
  if (m.serialText) line("  Serial number text: " + *m.serialText);
  line(m.modelYear ? "  Model year: " + std::to_string(m.year)
                   : "  Made: " + (m.week ? "week " + std::to_string(*m.week) + " of " : std::string()) +
                         std::to_string(m.year));
  line("  EDID version: " + std::to_string(m.version) + "." + std::to_string(m.revision));
  line(std::string("  Input: ") + (m.digital ? "digital" : "analogue") +
       (m.bitDepth ? ", " + std::to_string(*m.bitDepth) + " bits per colour" : std::string()) +
       (m.interface.empty() ? std::string() : ", " + m.interface));
  if (m.range) {
    line("  Range limits: " + std::to_string(m.range->minVerticalHz) + "-" + std::to_string(m.range->maxVerticalHz) +
         " Hz vertical, " + std::to_string(m.range->minHorizontalKhz) + "-" + std::to_string(m.range->maxHorizontalKhz) +
         " kHz horizontal, " + std::to_string(m.range->maxPixelClockMhz) + " MHz pixel clock");
  }

  line("Detailed timings, base block first:");
  for (std::size_t i = 0; i < m.detailed.size(); ++i) {
    line("  " + std::to_string(i + 1) + ": " + TimingLine(m.detailed[i]) + (i == 0 ? " (preferred)" : ""));
  }

  // Facts gathered over the blocks of a kind are shown at the first of them.
  std::vector<std::string> shown;
  int extension = 0;
  for (const DataBlockEntry& b : m.dataBlocks) {
    if (b.extension != extension) {
      extension = b.extension;
      line("Block " + std::to_string(extension) + ", CTA-861 extension:");
    }
    line("  " + b.name + ", " + std::to_string(b.length) + " bytes at offset " + std::to_string(b.offset) +
         (b.cut ? " (cut: its length runs past the collection)" : "") + ":");
    const bool read = b.tag == 1 || b.tag == 2 || b.tag == 4 || b.name.rfind("HDMI", 0) == 0 ||
                      (b.tag == 7 && (b.extendedTag == 0 || b.extendedTag == 5 || b.extendedTag == 6 ||
                                      b.extendedTag == 14 || b.extendedTag == 15));
    if (!read) continue;
    if (std::find(shown.begin(), shown.end(), b.name) != shown.end()) {
      line("    (read with the first block of its kind, above)");
      continue;
    }
    shown.push_back(b.name);
    const auto fact = [&](const std::string& text) { line("    " + text); };
    if (b.tag == 2) {
      for (const ShortVideo& v : m.video) fact(VicLine(v.vic) + (v.native ? " (native)" : ""));
    } else if (b.tag == 1) {
      for (const ShortAudio& a : m.audio) {
        std::vector<std::string> rates;
        for (double r : a.ratesKhz) rates.push_back(Fixed(r, r == std::floor(r) ? 0 : 1));
        std::string text = AudioFormatName(a) + ": " + std::to_string(a.channels) + " channels, " + Joined(rates, "/") + " kHz";
        if (!a.bits.empty()) {
          std::vector<std::string> bits;
          for (int bit : a.bits) bits.push_back(std::to_string(bit));
          text += ", " + Joined(bits, "/") + " bit";
        }
        if (a.maxBitrateKbps != 0) text += ", up to " + std::to_string(a.maxBitrateKbps) + " kbit/s";
        fact(text);
      }
    } else if (b.tag == 4) {
      fact("Speakers: " + Joined(m.speakers));
    } else if (b.name == "HDMI Vendor-Specific Data Block" && m.hdmi) {
      const HdmiVsdb& h = *m.hdmi;
      fact("Physical address: " + h.physicalAddress);
      fact("Maximum TMDS clock: " + (h.maxTmdsMhz ? std::to_string(*h.maxTmdsMhz) + " MHz" : std::string("not given")));
      std::vector<std::string> depths;
      for (int d : h.deepColor) depths.push_back(std::to_string(d) + " bit");
      fact("Deep colour: " + (depths.empty() ? std::string("none") : Joined(depths)) + (h.deepColorY444 ? ", also 4:4:4" : ""));
      if (h.videoLatencyMs) fact("Video latency: " + std::to_string(*h.videoLatencyMs) + " ms");
      if (h.audioLatencyMs) fact("Audio latency: " + std::to_string(*h.audioLatencyMs) + " ms");
    } else if ((b.name == "HDMI Forum Vendor-Specific Data Block" || b.name == "HDMI Forum Sink Capability Data Block") &&
               m.hdmiForum) {
      const HdmiForum& f = *m.hdmiForum;
      fact("Version: " + std::to_string(f.version));
      fact("Maximum TMDS character rate: " +
           (f.maxTmdsMhz ? std::to_string(*f.maxTmdsMhz) + " MHz" : std::string("340 MHz at most")));
      fact("SCDC: " + YesNo(f.scdc));
      fact("Maximum FRL rate: " + (f.maxFrlGbps ? std::to_string(*f.maxFrlGbps) + " Gbit/s" : std::string("none (TMDS only)")));
      std::vector<std::string> depths;
      for (int d : f.deepColor420) depths.push_back(std::to_string(d) + " bit");
      fact("Deep colour at 4:2:0: " + (depths.empty() ? std::string("none") : Joined(depths)));
      fact("Auto low-latency mode: " + YesNo(f.allm));
      fact("DSC: " + (f.dsc ? std::string("yes") + (f.dscMaxFrlGbps ? ", up to " + std::to_string(*f.dscMaxFrlGbps) + " Gbit/s FRL" : "")
                            : std::string("no")));
    } else if (b.extendedTag == 6 && m.hdr) {
      fact("Transfer functions: " + (m.hdr->eotf.empty() ? std::string("none") : Joined(m.hdr->eotf)));
      const auto luminance = [&](const char* what, const std::optional<double>& v) {
        fact(std::string(what) + (v ? Fixed(*v, 3) + " cd/m2" : std::string("not given")));
      };
      luminance("Maximum luminance: ", m.hdr->maxLuminance);
      luminance("Maximum frame-average luminance: ", m.hdr->maxFrameAverage);
      luminance("Minimum luminance: ", m.hdr->minLuminance);
    } else if (b.extendedTag == 5) {
      fact("Colorimetry: " + (m.colorimetry.empty() ? std::string("none") : Joined(m.colorimetry)));
    } else if (b.extendedTag == 0 && m.videoCapability) {
      fact("Quantisation range selectable: YCbCr " + YesNo(m.videoCapability->quantisableYcc) + ", RGB " +
           YesNo(m.videoCapability->quantisableRgb));
    } else if (b.extendedTag == 14) {
      std::vector<std::string> vics;
      for (int vic : m.ycbcr420Only) vics.push_back(VicLine(vic));
      fact("4:2:0 only: " + (vics.empty() ? std::string("none") : Joined(vics)));
    } else if (b.extendedTag == 15) {
      std::vector<std::string> vics;
      for (int vic : m.ycbcr420Also) vics.push_back(VicLine(vic));
      fact("4:2:0 also: " + (vics.empty() ? std::string("none") : Joined(vics)));
    }
  }
  for (std::size_t i = 0; i < m.extensionTags.size(); ++i) {
    if (m.extensionTags[i] == 0x02) continue;
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%02x", m.extensionTags[i]);
    line("Block " + std::to_string(i + 1) + ": extension of tag " + tag + ", not decoded");
  }
  if (!m.verdict.problems.empty()) {
    line("Checks:");
    for (const EdidProblem& p : m.verdict.problems) {
      line(std::string("  ") + (p.severity == EdidProblem::Severity::Note ? "note: " : "error: ") + p.text);
    }
  }
  return out;
}

}  // namespace vantorq::edid
