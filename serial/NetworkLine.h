#pragma once
// A unit behind a serial-to-Ethernet gateway: "socket://HOST:PORT" is a raw
// TCP stream (the gateway set to the line's settings), "rfc2217://HOST:PORT"
// a Telnet connection that sets the line through COM-PORT-OPTION.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "SerialPort.h"

namespace vantorq {

struct NetworkAddress {
  bool telnet = false;  // rfc2217:// rather than socket://
  std::string host;     // as written, without an IPv6 address's brackets
  std::string service;  // the TCP port's digits
};

// True when `text` names a network line at all (socket:// or rfc2217://),
// well formed or not: such a text is never a device path.
bool LooksLikeNetworkAddress(std::string_view text);

// Parses "socket://HOST:PORT" or "rfc2217://HOST:PORT" (an IPv6 host in
// brackets); false with the reason in `error` otherwise.
bool ParseNetworkAddress(std::string_view text, NetworkAddress& address, std::string& error);

// Resolution and connection together take no longer than this: a search
// gives a port this long to answer, and a gateway gets no more to accept.
inline constexpr std::chrono::milliseconds kNetworkOpenWindow{500};

// A descriptor that, once readable, ends the wait for a name or a
// connection at once (EINTR): a command-line program's signal pipe.
void SetNetworkOpenStop(int fd);

// Starts resolving the host in the background, so that an open later finds
// the answer ready instead of waiting for a name server.
void ResolveAhead(const NetworkAddress& address);

// Connects to the gateway, taking the lock for HOST:PORT first. Failure
// gives no port and fills `attempt` (its `reason` says what went wrong in
// words, naming host and port).
std::unique_ptr<ISerialPort> OpenNetworkPort(const std::string& text, OpenAttempt& attempt);

// The lock file's key: one console and one vantorq-ctl never share a
// gateway's port, whichever of the two forms names it.
std::string NetworkLockKey(const NetworkAddress& address);

}  // namespace vantorq
