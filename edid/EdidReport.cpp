#include "EdidReport.h"

#include "Sections.h"

namespace vantorq {

using namespace edid;

void EdidReport::DecodeSection(EdidView bytes, int section) {
  const EdidBytes e(bytes);
  switch (section) {
    case kVideoSection:
      AppendPreferredTiming(e, m_strVideo);
      AppendBaseDescriptors(e, m_strVideo);
      AppendExtensionTimings(e, m_strVideo);
      AppendShortVideoDescriptors(e, m_strVideo);
      m_strVideo += "\r\n";
      break;
    case kAudioSection:
      AppendShortAudioDescriptors(e, m_strAudio);
      m_strAudio += "\r\n";
      break;
    case kGeneralSection:
      m_strGeneral += "\r\n";
      AppendVendorIdentity(e, m_strGeneral);
      AppendProductName(e, m_strGeneral);
      AppendRangeLimits(e, m_strGeneral);
      if (e.HasCeaExtension()) {
        AppendDeviceSupport(e, m_strGeneral);
        AppendNativeTimings(e, m_strGeneral);
        AppendDeepColor(e, m_strGeneral);
        AppendHdmiVideo(e, m_strGeneral);
        AppendYcbcr420(e, m_strGeneral);
      }
      m_strGeneral += "\r\n";
      break;
    default:
      break;
  }
}

void EdidReport::Clear() {
  m_strVideo.clear();
  m_strAudio.clear();
  m_strGeneral.clear();
}

}  // namespace vantorq
