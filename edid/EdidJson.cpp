// RapidJSON (Debian's rapidjson-dev, header only), its streaming writer:
// it escapes every string as JSON must, writes the keys in the order they
// are given and numbers that read back exactly, and builds no document
// on the way, so that thousands of files a second are written.
#include "EdidJson.h"

#include <cmath>
#include <string_view>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace vantorq::edid {

namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// Figures kept to what the standards carry: a millihertz, a thousandth of
// a candela.
double Rounded(double value) { return std::round(value * 1000.0) / 1000.0; }

// Text from a file system or a descriptor may hold bytes that are no
// UTF-8; JSON may not: each such byte becomes U+FFFD.
std::string Utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = b < 0x80 ? 1 : b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

void Text(Writer& w, std::string_view text) {
  const std::string safe = Utf8(text);
  w.String(safe.data(), static_cast<rapidjson::SizeType>(safe.size()));
}

void Key(Writer& w, const char* key) { w.Key(key); }

// A block the EDID may lack: its object, or null.
template <typename T, typename Fields>
void ObjectOrNull(Writer& w, const std::optional<T>& block, Fields fields) {
  if (!block) {
    w.Null();
    return;
  }
  w.StartObject();
  fields(*block);
  w.EndObject();
}

void Optional(Writer& w, const std::optional<int>& v) {
  if (v) {
    w.Int(*v);
  } else {
    w.Null();
  }
}

void Optional(Writer& w, const std::optional<double>& v) {
  if (v) {
    w.Double(Rounded(*v));
  } else {
    w.Null();
  }
}

template <typename T, typename Each>
void Array(Writer& w, const std::vector<T>& items, Each each) {
  w.StartArray();
  for (const T& item : items) each(item);
  w.EndArray();
}

void Ints(Writer& w, const std::vector<int>& values) {
  Array(w, values, [&](int v) { w.Int(v); });
}

void Texts(Writer& w, const std::vector<std::string>& values) {
  Array(w, values, [&](const std::string& v) { Text(w, v); });
}

void TimingObject(Writer& w, const Timing& t) {
  w.StartObject();
  Key(w, "width");
  w.Int(t.width);
  Key(w, "height");
  w.Int(t.height);
  Key(w, "refresh");
  w.Double(Rounded(t.refresh));
  Key(w, "interlaced");
  w.Bool(t.interlaced);
  Key(w, "pixel_clock_khz");
  w.Int(t.pixelClockKhz);
  w.EndObject();
}

void Model(Writer& w, const EdidModel& m, const std::string& file) {
  w.StartObject();
  Key(w, "file");
  Text(w, file);
  Key(w, "size");
  w.Uint64(m.size);
  Key(w, "blocks");
  w.Int(m.blocks);
  Key(w, "vendor");
  Text(w, m.vendor);
  Key(w, "product");
  w.Int(m.product);
  Key(w, "serial");
  w.Uint(m.serial);
  Key(w, "name");
  if (m.name) {
    Text(w, *m.name);
  } else {
    w.Null();
  }
  Key(w, "year");
  w.Int(m.year);
  Key(w, "week");
  Optional(w, m.week);
  Key(w, "preferred");
  if (m.detailed.empty()) {
    w.Null();
  } else {
    TimingObject(w, m.detailed.front());
  }
  Key(w, "detailed");
  Array(w, m.detailed, [&](const Timing& t) { TimingObject(w, t); });
  Key(w, "video");
  Array(w, m.video, [&](const ShortVideo& v) {
    w.StartObject();
    Key(w, "vic");
    w.Int(v.vic);
    Key(w, "native");
    w.Bool(v.native);
    w.EndObject();
  });
  Key(w, "ycbcr420_only");
  Ints(w, m.ycbcr420Only);
  Key(w, "ycbcr420_also");
  Ints(w, m.ycbcr420Also);
  Key(w, "audio");
  Array(w, m.audio, [&](const ShortAudio& a) {
    w.StartObject();
    Key(w, "format_code");
    w.Int(a.formatCode);
    Key(w, "channels");
    w.Int(a.channels);
    Key(w, "rates_khz");
    Array(w, a.ratesKhz, [&](double r) { w.Double(r); });
    Key(w, "bits");
    if (a.formatCode == 1) {
      Ints(w, a.bits);
    } else {
      w.Null();
    }
    w.EndObject();
  });
  Key(w, "speakers");
  Texts(w, m.speakers);
  Key(w, "hdmi");
  ObjectOrNull(w, m.hdmi, [&](const auto& hdmi) {
    Key(w, "physical_address");
    Text(w, hdmi.physicalAddress);
    Key(w, "max_tmds_mhz");
    Optional(w, hdmi.maxTmdsMhz);
    Key(w, "deep_color");
    Ints(w, hdmi.deepColor);
  });
  Key(w, "hdmi_forum");
  ObjectOrNull(w, m.hdmiForum, [&](const auto& forum) {
    Key(w, "max_tmds_mhz");
    Optional(w, forum.maxTmdsMhz);
    Key(w, "scdc");
    w.Bool(forum.scdc);
    Key(w, "max_frl_gbps");
    Optional(w, forum.maxFrlGbps);
  });
  Key(w, "hdr");
  ObjectOrNull(w, m.hdr, [&](const auto& hdr) {
    Key(w, "eotf");
    Texts(w, hdr.eotf);
    Key(w, "max_luminance");
    Optional(w, hdr.maxLuminance);
    Key(w, "max_frame_avg");
    Optional(w, hdr.maxFrameAverage);
    Key(w, "min_luminance");
    Optional(w, hdr.minLuminance);
  });
  Key(w, "colorimetry");
  Texts(w, m.colorimetry);
  Key(w, "checks");
  Array(w, m.verdict.problems, [&](const EdidProblem& p) {
    w.StartObject();
    Key(w, "severity");
    w.String(p.severity == EdidProblem::Severity::Error ? "error" : "note");
    Key(w, "text");
    Text(w, p.text);
    w.EndObject();
  });
  w.EndObject();
}

}  // namespace

std::string ModelJson(const EdidModel& model, const std::string& file) {
  rapidjson::StringBuffer buffer;
  Writer w(buffer);
  w.SetIndent(' ', 2);
  Model(w, model, file);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

void CJsonArrayWriter::Add(const EdidModel& model, const std::string& file) {
  rapidjson::StringBuffer buffer;
  Writer w(buffer);
  w.SetIndent(' ', 2);
  Model(w, model, file);
  m_put(m_count++ == 0 ? "[\n" : ",\n");
  m_put(std::string_view(buffer.GetString(), buffer.GetSize()));
}

void CJsonArrayWriter::Finish() { m_put(m_count == 0 ? "[]\n" : "\n]\n"); }

}  // namespace vantorq::edid
