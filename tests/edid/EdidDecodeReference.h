#pragma once
// What edid-decode, the field's reference decoder, says of an EDID, read
// from its text into the model's terms; and whether the model agrees with
// it, key by key. Shared by the tests that hold the decoder and the editor
// to it.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EdidModel.h"

namespace vantorq::edid {

inline std::string Output(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
  return out;
}

// What edid-decode says of one EDID, in the model's terms.
struct Reference {
  std::string vendor;
  int product = 0;
  std::uint32_t serial = 0;
  std::optional<std::string> name;
  int year = 0;
  std::optional<int> week;
  std::vector<Timing> detailed;
  std::vector<ShortVideo> video;
  std::vector<int> only420;
  std::vector<int> also420;
  bool allAlso420 = false;
  std::vector<ShortAudio> audio;
  std::set<std::string> speakers;
  std::optional<HdmiVsdb> hdmi;
  std::optional<HdmiForum> forum;
  std::optional<HdrStatic> hdr;
  std::set<std::string> colorimetry;
};

inline std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

inline int AudioCode(const std::string& name, int& extended) {
  static const std::map<std::string, int> kCodes{
      {"Linear PCM", 1}, {"AC-3", 2}, {"MPEG 1 (Layers 1 & 2)", 3}, {"MPEG 1 Layer 3 (MP3)", 4},
      {"MPEG2 (multichannel)", 5}, {"AAC LC", 6}, {"DTS", 7}, {"ATRAC", 8}, {"One Bit Audio", 9},
      {"Enhanced AC-3 (DD+)", 10}, {"DTS-HD", 11}, {"MAT (MLP)", 12}, {"DST", 13}, {"WMA Pro", 14}};
  static const std::map<std::string, int> kExtended{
      {"MPEG-4 HE AAC", 4}, {"MPEG-4 HE AAC v2", 5}, {"MPEG-4 AAC LC", 6}, {"DRA", 7},
      {"MPEG-4 HE AAC + MPEG Surround", 8}, {"MPEG-4 AAC LC + MPEG Surround", 10}, {"MPEG-H 3D Audio", 11},
      {"AC-4", 12}, {"L-PCM 3D Audio", 13}};
  if (const auto it = kCodes.find(name); it != kCodes.end()) return it->second;
  if (const auto it = kExtended.find(name); it != kExtended.end()) {
    extended = it->second;
    return 15;
  }
  return -1;
}

// The largest link rate a "Max Fixed Rate Link" line names, in Gbit/s.
inline std::optional<int> FrlRate(const std::string& text) {
  std::smatch m;
  if (std::regex_search(text, m, std::regex(R"((\d+) Gbps on 4 lanes)"))) return std::stoi(m[1]) * 4;
  if (std::regex_search(text, m, std::regex(R"((\d+) Gbps per lane on 3 lanes)"))) return std::stoi(m[1]) * 3;
  return std::nullopt;
}

inline Reference Parse(const std::string& text) {
  Reference r;
  std::istringstream in(text);
  std::string line;
  std::string section;  // the data block being read ("" outside one)
  std::set<std::string> seen;
  static const std::regex kVic(R"(^\s+VIC\s+(\d+):.*?( \(native\))?$)");
  static const std::regex kDtd(R"(^\s+DTD \d+:\s+(\d+)x(\d+)(i?)\s+([\d.]+) Hz.*?\s([\d.]+) MHz)");
  static const std::regex kLuminance(R"(\(([\d.]+) cd/m\^2\))");
  static const std::regex kWeek(R"(^Made in: week (\d+) of (\d+))");
  static const std::regex kYear(R"(^(Made in|Model year): (\d+))");
  static const std::regex kName(R"(^Display Product Name: '(.*)'$)");
  std::smatch m;
  while (std::getline(in, line)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    const std::string s = line.substr(indent);
    if (indent <= 2 && !s.empty() && s.back() == ':') {
      // The first block of a kind counts; video and audio blocks add up.
      const bool adds = s == "Video Data Block:" || s == "Audio Data Block:" ||
                        s.rfind("YCbCr 4:2:0", 0) == 0;
      // The two forms of the HDMI Forum block are one kind.
      const bool forum = s.find("HDMI Forum") != std::string::npos;
      section = !adds && !seen.insert(forum ? "HDMI Forum" : s).second ? "(a further one)" : s;
    }
    if (indent == 0) section.clear();
    auto value = [&](const std::string& key) { return s.rfind(key, 0) == 0 ? s.substr(key.size()) : std::string(); };
    if (auto v = value("Manufacturer: "); !v.empty()) r.vendor = v;
    if (auto v = value("Model: "); !v.empty()) r.product = std::stoi(v);
    if (auto v = value("Serial Number: "); !v.empty()) r.serial = static_cast<std::uint32_t>(std::stoul(v));
    if (std::regex_search(s, m, kWeek)) {
      r.week = std::stoi(m[1]);
      r.year = std::stoi(m[2]);
    } else if (std::regex_search(s, m, kYear)) {
      r.year = std::stoi(m[2]);
    }
    if (!r.name && std::regex_search(s, m, kName)) r.name = m[1];
    if (s.rfind("DTD ", 0) == 0 && std::regex_search(line, m, kDtd)) {
      Timing t{std::stoi(m[1]), std::stoi(m[2]), m[3] == "i", std::stod(m[4]),
               static_cast<int>(std::lround(std::stod(m[5]) * 1000))};
      r.detailed.push_back(t);
    }
    const bool vic = s.rfind("VIC", 0) == 0 && std::regex_search(line, m, kVic);
    if (section == "Video Data Block:" && vic) r.video.push_back({std::stoi(m[1]), m[2].matched});
    if (section == "YCbCr 4:2:0 Video Data Block:" && vic) r.only420.push_back(std::stoi(m[1]));
    if (section == "YCbCr 4:2:0 Capability Map Data Block:") {
      if (vic) r.also420.push_back(std::stoi(m[1]));
      if (s == "All VDB SVDs") r.allAlso420 = true;
    }
    if (section == "Audio Data Block:") {
      if (indent == 4 && s.back() == ':') {
        ShortAudio a;
        a.formatCode = AudioCode(s.substr(0, s.size() - 1), a.extendedCode);
        r.audio.push_back(a);
      } else if (!r.audio.empty()) {
        ShortAudio& a = r.audio.back();
        if (auto v = value("Max channels: "); !v.empty()) a.channels = std::stoi(v);
        std::istringstream list(value("Supported sample rates (kHz): "));
        for (double rate; list >> rate;) a.ratesKhz.push_back(rate);
        std::istringstream bits(value("Supported sample sizes (bits): "));
        for (int bit; bits >> bit;) a.bits.push_back(bit);
      }
    }
    if (section == "Speaker Allocation Data Block:" && indent == 4) r.speakers.insert(Upper(s.substr(0, s.find(" - "))));
    if (section == "Vendor-Specific Data Block (HDMI), OUI 00-0C-03:") {
      if (!r.hdmi) r.hdmi.emplace();
      if (auto v = value("Source physical address: "); !v.empty()) r.hdmi->physicalAddress = v;
      if (auto v = value("Maximum TMDS clock: "); !v.empty()) r.hdmi->maxTmdsMhz = std::stoi(v);
      for (int depth : {30, 36, 48}) {
        if (s == "DC_" + std::to_string(depth) + "bit") r.hdmi->deepColor.push_back(depth);
      }
    }
    if (section == "Vendor-Specific Data Block (HDMI Forum), OUI C4-5D-D8:" ||
        section == "HDMI Forum Sink Capability Data Block:") {
      if (!r.forum) r.forum.emplace();
      if (auto v = value("Maximum TMDS Character Rate: "); !v.empty()) r.forum->maxTmdsMhz = std::stoi(v);
      if (s == "SCDC Present") r.forum->scdc = true;
      if (auto v = value("Max Fixed Rate Link: "); !v.empty()) r.forum->maxFrlGbps = FrlRate(v);
    }
    if (section == "HDR Static Metadata Data Block:") {
      if (!r.hdr) r.hdr.emplace();
      static const std::map<std::string, std::string> kEotf{{"Traditional gamma - SDR luminance range", "SDR"},
                                                            {"Traditional gamma - HDR luminance range", "HDR"},
                                                            {"SMPTE ST2084", "PQ"},
                                                            {"Hybrid Log-Gamma", "HLG"}};
      if (const auto it = kEotf.find(s); it != kEotf.end()) r.hdr->eotf.push_back(it->second);
      const bool lum = std::regex_search(s, m, kLuminance);
      if (lum && s.rfind("Desired content max luminance", 0) == 0) r.hdr->maxLuminance = std::stod(m[1]);
      if (lum && s.rfind("Desired content max frame-average", 0) == 0) r.hdr->maxFrameAverage = std::stod(m[1]);
      if (lum && s.rfind("Desired content min luminance", 0) == 0) r.hdr->minLuminance = std::stod(m[1]);
    }
    if (section == "Colorimetry Data Block:" && indent == 4 && s.find("MD") == std::string::npos) r.colorimetry.insert(s);
  }
  if (r.hdr) std::sort(r.hdr->eotf.begin(), r.hdr->eotf.end());
  return r;
}

inline bool Near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance; }

inline bool Near(const std::optional<double>& a, const std::optional<double>& b, double tolerance) {
  return a.has_value() == b.has_value() && (!a || Near(*a, *b, tolerance));
}

// Each JSON key: whether the model and edid-decode agree on it.
inline std::map<std::string, bool> Agreement(const EdidModel& m, const Reference& r) {
  std::map<std::string, bool> keys;
  keys["vendor"] = m.vendor == r.vendor;
  keys["product"] = m.product == r.product;
  keys["serial"] = m.serial == r.serial;
  keys["name"] = m.name == r.name;
  keys["year"] = m.year == r.year;
  keys["week"] = m.week == r.week;
  bool detailed = m.detailed.size() == r.detailed.size();
  for (std::size_t i = 0; detailed && i < m.detailed.size(); ++i) {
    const Timing& a = m.detailed[i];
    const Timing& b = r.detailed[i];
    detailed = a.width == b.width && a.height == b.height && a.interlaced == b.interlaced &&
               a.pixelClockKhz == b.pixelClockKhz && Near(a.refresh, b.refresh, 0.001);
  }
  keys["detailed"] = detailed;
  keys["preferred"] = detailed;
  bool video = m.video.size() == r.video.size();
  for (std::size_t i = 0; video && i < m.video.size(); ++i) {
    video = m.video[i].vic == r.video[i].vic && m.video[i].native == r.video[i].native;
  }
  keys["video"] = video;
  keys["ycbcr420_only"] = m.ycbcr420Only == r.only420;
  std::vector<int> also = r.also420;
  if (r.allAlso420) {
    for (const ShortVideo& v : r.video) also.push_back(v.vic);
  }
  keys["ycbcr420_also"] = m.ycbcr420Also == also;
  bool audio = m.audio.size() == r.audio.size();
  for (std::size_t i = 0; audio && i < m.audio.size(); ++i) {
    const ShortAudio& a = m.audio[i];
    const ShortAudio& b = r.audio[i];
    std::vector<double> rates = b.ratesKhz;
    std::vector<int> bits = b.bits;
    std::sort(rates.begin(), rates.end());
    std::sort(bits.begin(), bits.end());
    audio = a.formatCode == b.formatCode && a.extendedCode == b.extendedCode &&
            (b.channels == 0 || a.channels == b.channels) && a.ratesKhz == rates && a.bits == bits;
  }
  keys["audio"] = audio;
  std::set<std::string> speakers;
  for (const std::string& s : m.speakers) speakers.insert(Upper(s));
  keys["speakers"] = speakers == r.speakers;
  keys["hdmi"] = m.hdmi.has_value() == r.hdmi.has_value() &&
                 (!m.hdmi || (m.hdmi->physicalAddress == r.hdmi->physicalAddress &&
                              m.hdmi->maxTmdsMhz == r.hdmi->maxTmdsMhz && [&] {
                                std::vector<int> d = r.hdmi->deepColor;
                                std::sort(d.begin(), d.end());
                                return d == m.hdmi->deepColor;
                              }()));
  keys["hdmi_forum"] = m.hdmiForum.has_value() == r.forum.has_value() &&
                       (!m.hdmiForum || (m.hdmiForum->maxTmdsMhz == r.forum->maxTmdsMhz &&
                                         m.hdmiForum->scdc == r.forum->scdc &&
                                         m.hdmiForum->maxFrlGbps == r.forum->maxFrlGbps));
  keys["hdr"] = m.hdr.has_value() == r.hdr.has_value() &&
                (!m.hdr || ([&] {
                   std::vector<std::string> e = m.hdr->eotf;
                   std::sort(e.begin(), e.end());
                   return e == r.hdr->eotf;
                 }() && Near(m.hdr->maxLuminance, r.hdr->maxLuminance, 0.001) &&
                  Near(m.hdr->maxFrameAverage, r.hdr->maxFrameAverage, 0.001) &&
                  Near(m.hdr->minLuminance, r.hdr->minLuminance, 0.0006)));
  keys["colorimetry"] = std::set<std::string>(m.colorimetry.begin(), m.colorimetry.end()) == r.colorimetry;
  return keys;
}


}  // namespace vantorq::edid
