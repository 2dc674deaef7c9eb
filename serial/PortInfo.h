#pragma once
// What stands behind a COM port's device path, in words that tell two USB
// adapters apart: read from sysfs and udev's /dev/serial/by-id links.

#include <string>

namespace vantorq {

struct PortInfo {
  std::string path;        // what COMn opens
  std::string device;      // the file it leads to, links resolved
  bool present = false;
  bool network = false;  // a gateway's socket:// or rfc2217:// address
  // A USB adapter's: its /dev/serial/by-id link, maker, product, serial
  // number and vendor:product ids; empty for anything else.
  std::string byId;
  std::string maker;
  std::string product;
  std::string serial;
  std::string vidPid;
};

// $VANTORQ_SYS_ROOT (default /sys) and $VANTORQ_DEV_ROOT (default /dev)
// stand for the system's folders, for tests.
PortInfo DescribePort(const std::string& path);

// The tooltip of a port list item: the path, and then either "not present"
// or what the device is, one fact a line.
std::string PortTooltip(const PortInfo& info);

}  // namespace vantorq
