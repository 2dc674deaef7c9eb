#include "ComPorts.h"

#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>

#include "NetworkLine.h"
#include "PortsFile.h"

namespace vantorq {

namespace {

struct DeviceRange {
  unsigned first;
  unsigned last;
  std::string_view prefix;
};

// USB adapters are what most technicians plug in, so they get a block of
// their own rather than sharing numbers with the on-board UARTs.
constexpr std::array<DeviceRange, 4> kDeviceRanges{{
    {1, 32, "/dev/ttyS"},
    {33, 64, "/dev/ttyUSB"},
    {65, 96, "/dev/ttyACM"},
    {97, 99, "/dev/ttyAMA"},
}};

bool InRange(unsigned port) { return port >= kFirstComPort && port <= kLastComPort; }

}  // namespace

std::string ComDeviceName(unsigned port) {
  return (port >= 10 ? std::string("\\\\.\\COM") : std::string("COM")) + std::to_string(port);
}

unsigned StrictComNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 5) return 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  unsigned n = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n;
}

unsigned ComPortFromName(std::string_view name) {
  const auto pos = name.rfind("COM");
  if (pos == std::string_view::npos) return 0;
  unsigned value = 0;
  bool any = false;
  for (char c : name.substr(pos + 3)) {
    if (c < '0' || c > '9' || value > 1000) return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
    any = true;
  }
  return any ? value : 0;
}

std::string DefaultComDevice(unsigned port) {
  for (const auto& range : kDeviceRanges) {
    if (port >= range.first && port <= range.last) {
      return std::string(range.prefix) + std::to_string(port - range.first);
    }
  }
  return {};
}

std::string ComDevicePath(unsigned port) {
  if (!InRange(port)) return {};
  // A unit behind a gateway keeps the COM name the ports file gives it.
  if (std::string address = NetworkAddressFor(port); !address.empty()) return address;
  const char* dir = std::getenv("VANTORQ_PORT_DIR");
  if (dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/COM" + std::to_string(port);
  }
  return DefaultComDevice(port);
}

bool ComPortPresent(unsigned port) {
  const std::string path = ComDevicePath(port);
  return !path.empty() && (LooksLikeNetworkAddress(path) || ::access(path.c_str(), F_OK) == 0);
}

}  // namespace vantorq
