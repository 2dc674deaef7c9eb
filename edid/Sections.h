#pragma once
// The parts of the three report sections, one reader per kind of block.

#include <string>

#include "EdidBytes.h"

namespace vantorq::edid {

// Base block (BaseBlock.cpp).
void AppendPreferredTiming(const EdidBytes& edid, std::string& video);
void AppendBaseDescriptors(const EdidBytes& edid, std::string& video);
void AppendVendorIdentity(const EdidBytes& edid, std::string& general);
void AppendProductName(const EdidBytes& edid, std::string& general);
void AppendRangeLimits(const EdidBytes& edid, std::string& general);

// CEA-861 extension: timings and video data block (CeaVideo.cpp).
void AppendExtensionTimings(const EdidBytes& edid, std::string& video);
void AppendShortVideoDescriptors(const EdidBytes& edid, std::string& video);
void AppendDeviceSupport(const EdidBytes& edid, std::string& general);
void AppendNativeTimings(const EdidBytes& edid, std::string& general);

// Audio data block (CeaAudio.cpp).
void AppendShortAudioDescriptors(const EdidBytes& edid, std::string& audio);

// HDMI vendor-specific data block (CeaVendor.cpp).
void AppendDeepColor(const EdidBytes& edid, std::string& general);
void AppendHdmiVideo(const EdidBytes& edid, std::string& general);

// Extended-tag data blocks: the YCbCr 4:2:0 lists (CeaExtended.cpp).
void AppendYcbcr420(const EdidBytes& edid, std::string& general);

}  // namespace vantorq::edid
