#include "PortInfo.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "NetworkLine.h"

namespace vantorq {

namespace {

namespace fs = std::filesystem;

std::string Root(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string Canonical(const fs::path& p) {
  std::error_code ec;
  const fs::path c = fs::canonical(p, ec);
  return ec ? std::string() : c.string();
}

}  // namespace

PortInfo DescribePort(const std::string& path) {
  PortInfo info;
  info.path = path;
  if (LooksLikeNetworkAddress(path)) {
    // A gateway: whether it is there shows only when it is connected to.
    info.device = path;
    info.present = true;
    info.network = true;
    return info;
  }
  info.device = Canonical(path);
  info.present = !info.device.empty();
  if (!info.present) return info;

  const std::string name = fs::path(info.device).filename().string();
  // The USB device is a few levels above the tty's interface in sysfs.
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(Root("VANTORQ_SYS_ROOT", "/sys")) / "class" / "tty" / name / "device", ec);
  for (int up = 0; !ec && up < 5 && !dir.empty(); ++up, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec)) continue;
    info.maker = ReadLine(dir / "manufacturer");
    info.product = ReadLine(dir / "product");
    info.serial = ReadLine(dir / "serial");
    info.vidPid = ReadLine(dir / "idVendor") + ":" + ReadLine(dir / "idProduct");
    break;
  }
  for (const auto& link : fs::directory_iterator(fs::path(Root("VANTORQ_DEV_ROOT", "/dev")) / "serial" / "by-id", ec)) {
    if (Canonical(link.path()) == info.device) {
      info.byId = link.path().string();
      break;
    }
  }
  return info;
}

std::string PortTooltip(const PortInfo& info) {
  std::string text = info.path;
  if (!info.present) return text + "\nnot present";
  if (info.network) {
    return text + (info.path.rfind("rfc2217://", 0) == 0 ? "\nnetwork gateway, line set through Telnet (RFC 2217)"
                                                        : "\nnetwork gateway, raw TCP: set it to 57600 8N1");
  }
  if (info.device != info.path) text += "\n\u2192 " + info.device;
  if (!info.vidPid.empty()) {
    std::string what = info.maker;
    if (!info.product.empty()) what += (what.empty() ? "" : " ") + info.product;
    text += "\nUSB adapter: " + (what.empty() ? std::string("unnamed") : what);
    if (!info.serial.empty()) text += "\nserial number " + info.serial;
    text += "\nVID:PID " + info.vidPid;
  }
  if (!info.byId.empty()) text += "\n" + info.byId;
  return text;
}

}  // namespace vantorq
