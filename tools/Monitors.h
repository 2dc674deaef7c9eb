#pragma once
// The PC's own monitors: the connectors under /sys/class/drm whose "edid"
// file holds an EDID (it is empty while nothing is connected).

#include <string>
#include <vector>

namespace vantorq::tool {

struct Monitor {
  std::string connector;  // "card0-HDMI-A-1"
  std::string edidPath;
};

// $VANTORQ_SYS_ROOT/class/drm (default /sys/class/drm), for a test's fake tree.
std::string DrmFolder();

// Connectors with a non-empty EDID, in name order.
std::vector<Monitor> ListMonitors();

// The connector named `name` ("card0-HDMI-A-1", or "HDMI-A-1" when one
// card has it); false when there is none with an EDID.
bool FindMonitor(const std::string& name, Monitor& monitor);

}  // namespace vantorq::tool
