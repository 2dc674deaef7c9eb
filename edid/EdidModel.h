#pragma once
// The whole EDID as data: the base block and every CTA-861 data block an
// HDMI sink carries, in every extension block the input holds (a 384- or
// 512-byte EDID included). Beside the console's three report texts, which
// stay as they are; this is what JSON and the detailed report are made of.
//
// The rule for fields past the end is the report's: an item that would
// lie beyond its block (a data block whose length runs past the
// collection, a map bit past the last VIC) is left out, never invented.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "EdidCheck.h"

namespace vantorq::edid {

struct Timing {
  int width = 0;
  int height = 0;  // the frame's: both fields of an interlaced timing
  bool interlaced = false;
  double refresh = 0;  // Hz: frames, or fields when interlaced
  int pixelClockKhz = 0;
};

struct ShortVideo {
  int vic = 0;
  bool native = false;
};

struct ShortAudio {
  int formatCode = 0;  // 1 LPCM ... 15 extended
  int extendedCode = 0;
  int channels = 0;
  std::vector<double> ratesKhz;  // ascending
  std::vector<int> bits;         // LPCM only
  int maxBitrateKbps = 0;        // formats 2 to 8
};

struct HdmiVsdb {
  std::string physicalAddress;  // "1.0.0.0"
  std::optional<int> maxTmdsMhz;
  std::vector<int> deepColor;  // 30, 36, 48
  bool deepColorY444 = false;
  bool supportsAi = false;
  bool dviDual = false;
  std::optional<int> videoLatencyMs;
  std::optional<int> audioLatencyMs;
  std::optional<int> interlacedVideoLatencyMs;
  std::optional<int> interlacedAudioLatencyMs;
};

// The HDMI Forum vendor-specific block, or its Sink Capability Data Block.
struct HdmiForum {
  bool sinkCapabilityBlock = false;  // the SCDB form
  int version = 0;
  std::optional<int> maxTmdsMhz;  // absent: 340 MHz at most
  bool scdc = false;
  bool readRequest = false;
  bool scrambling340 = false;
  std::optional<int> maxFrlGbps;
  std::vector<int> deepColor420;  // 30, 36, 48
  bool allm = false;
  bool dsc = false;
  std::optional<int> dscMaxFrlGbps;
};

struct HdrStatic {
  std::vector<std::string> eotf;  // "SDR", "HDR", "PQ", "HLG"
  std::optional<double> maxLuminance;  // cd/m²
  std::optional<double> maxFrameAverage;
  std::optional<double> minLuminance;
};

struct VideoCapability {
  bool quantisableYcc = false;
  bool quantisableRgb = false;
  int pt = 0;  // over- and underscan behaviour, 0..3 each
  int it = 0;
  int ce = 0;
};

struct RangeLimits {
  int minVerticalHz = 0;
  int maxVerticalHz = 0;
  int minHorizontalKhz = 0;
  int maxHorizontalKhz = 0;
  int maxPixelClockMhz = 0;
};

// Every data block as it stands in its collection, known or not.
struct DataBlockEntry {
  int extension = 0;  // the block (1, 2, ...) it stands in
  int offset = 0;     // of its header, within that block
  int tag = 0;
  int extendedTag = -1;  // tag 7 only
  int length = 0;        // payload bytes, as the header says
  bool cut = false;      // its length runs past the collection
  std::string name;      // "Video Data Block", "Unknown (tag 0, length 0)"
};

struct EdidModel {
  std::size_t size = 0;  // bytes of the input
  int blocks = 0;        // whole 128-byte blocks of the input

  // Base block.
  std::string vendor;  // the PNP ID, "SHP"
  int product = 0;
  std::uint32_t serial = 0;
  std::optional<std::string> name;        // the display name descriptor
  std::optional<std::string> serialText;  // the serial number descriptor
  int year = 0;
  std::optional<int> week;  // none when 0, or when the year is a model year
  bool modelYear = false;
  int version = 0;
  int revision = 0;
  bool digital = false;
  std::optional<int> bitDepth;  // EDID 1.4 digital input
  std::string interface;        // "HDMI-a", "DisplayPort", ...
  std::vector<Timing> detailed;  // base block, then the extensions'
  std::optional<RangeLimits> range;

  // CTA-861 extensions.
  std::vector<int> extensionTags;  // of blocks 1, 2, ...
  std::vector<ShortVideo> video;
  std::vector<int> ycbcr420Only;
  std::vector<int> ycbcr420Also;
  std::vector<ShortAudio> audio;
  std::vector<std::string> speakers;  // in bit order
  std::optional<HdmiVsdb> hdmi;
  std::optional<HdmiForum> hdmiForum;
  std::optional<HdrStatic> hdr;
  std::vector<std::string> colorimetry;
  std::optional<VideoCapability> videoCapability;
  std::vector<DataBlockEntry> dataBlocks;

  EdidVerdict verdict;  // what --check finds
};

// Decodes `bytes` as a file holds them: shorter than 256 bytes completed
// with 0xFF as the console completes a file, a partial last block with
// 0xFF as well.
EdidModel DecodeModel(std::span<const std::uint8_t> bytes);

// The timing an 18-byte detailed timing descriptor holds; none for a
// display descriptor (its pixel clock 0).
std::optional<Timing> DescriptorTiming(std::span<const std::uint8_t, 18> bytes);

// "3840x2160@60Hz", "1920x1080i@50Hz" (refresh rounded to the next whole Hz).
std::string ModeName(const Timing& t);
// The format of a VIC as a timing; empty (width 0) for an unassigned one.
Timing VicAsTiming(int vic);
// The short CTA-861 name of audio format `code` ("LPCM", "AC-3", ...).
std::string AudioFormatName(const ShortAudio& a);

}  // namespace vantorq::edid
