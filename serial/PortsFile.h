#pragma once
// The ports file: COM names for units behind network gateways, one a line,
//   COM40 rfc2217://gw-hall-a:4001   # the rack in hall A
// so that they appear in the port list and the search as gateways' own
// drivers would map them. '#' starts a comment; blank lines are allowed.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantorq {

struct PortsFile {
  std::map<unsigned, std::string> addresses;  // COM number -> gateway address
  std::vector<std::string> problems;          // "line 3: ...", one a line at fault
};

// Reads the file's text; lines at fault are left out and said.
PortsFile ParsePortsFile(std::string_view text);

// $XDG_CONFIG_HOME/vantorq/ports, or ~/.config/vantorq/ports.
std::string PortsFilePath();

// The gateway address the ports file gives COMn, empty if none. The file is
// read again when it changes; its problems are said on standard error once
// a version, and every name in it starts resolving in the background.
std::string NetworkAddressFor(unsigned port);

// Whether reading the file starts looking up its gateways' names in the
// background (the default). A program that forks turns it off.
void ResolveNamesAhead(bool ahead);

// Reads the file now, if it changed: its gateways' names start resolving
// while the operator is still looking at the window.
void ReadPortsFile();

// What a search that found nothing adds beneath its message when the ports
// file has lines at fault ("The ports file ...: line 3: ..."); else empty.
std::string PortsFileProblems();

}  // namespace vantorq
