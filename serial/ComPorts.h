#pragma once
// How the console's COM port numbers reach Linux serial devices.

#include <string>
#include <string_view>

namespace vantorq {

inline constexpr unsigned kFirstComPort = 1;
inline constexpr unsigned kLastComPort = 99;

// The device name the console uses for port n: "COM9", and the long
// form "\\.\COM10" from 10 upward. It only names the port; the path
// below is what gets opened.
std::string ComDeviceName(unsigned port);

// COM1..COM99 as written (any letter case), no sign, no leading zero; 0
// for anything else: a script's COM100 or COM07 is a mistake to be told,
// not a port to guess.
unsigned StrictComNumber(std::string_view name);

// The port number inside a name made by ComDeviceName, 0 if none.
unsigned ComPortFromName(std::string_view name);

// The file opened for COMn: the gateway address the ports file gives it,
// else $VANTORQ_PORT_DIR/COMn when that variable is set and non-empty,
// otherwise the fixed table of DefaultComDevice. Empty for a number
// outside 1..99.
std::string ComDevicePath(unsigned port);

// Whether COMn leads anywhere: its device is there, or a gateway is named.
bool ComPortPresent(unsigned port);

// The fixed table: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,
// COM65-96 /dev/ttyACM0-31, COM97-99 /dev/ttyAMA0-2.
std::string DefaultComDevice(unsigned port);

}  // namespace vantorq
