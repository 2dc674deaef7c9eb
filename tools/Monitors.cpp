#include "Monitors.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vantorq::tool {

std::string DrmFolder() {
  const char* root = std::getenv("VANTORQ_SYS_ROOT");
  return std::string(root != nullptr && *root != '\0' ? root : "/sys") + "/class/drm";
}

std::vector<Monitor> ListMonitors() {
  std::vector<Monitor> monitors;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(DrmFolder(), ec)) {
    const std::string edid = entry.path().string() + "/edid";
    struct stat st {};
    // sysfs gives no size until read, so an empty file is told by reading.
    if (::stat(edid.c_str(), &st) != 0) continue;
    std::FILE* f = std::fopen(edid.c_str(), "rb");
    if (f == nullptr) continue;
    const bool holds = std::fgetc(f) != EOF;
    std::fclose(f);
    if (holds) monitors.push_back({entry.path().filename().string(), edid});
  }
  std::sort(monitors.begin(), monitors.end(), [](const Monitor& a, const Monitor& b) { return a.connector < b.connector; });
  return monitors;
}

bool FindMonitor(const std::string& name, Monitor& monitor) {
  for (const Monitor& m : ListMonitors()) {
    const auto dash = m.connector.find('-');
    if (m.connector == name || (dash != std::string::npos && m.connector.substr(dash + 1) == name)) {
      monitor = m;
      return true;
    }
  }
  return false;
}

}  // namespace vantorq::tool
