#pragma once
// Why a port could not be opened, in words an operator can act on.

#include <string>
#include <string_view>
#include <vector>

#include "SerialPort.h"

namespace vantorq {

// The port is simply not there (no such file, no device or no UART behind
// it): what a search passes over without a word.
bool PortMissing(int error);

// "Permission denied — add your user to the dialout group and log in
// again", "in use by another program (PID 812, minicom)", "no such device".
std::string OpenFailureReason(const OpenAttempt& attempt);

// "COM33 (/dev/ttyUSB0): " and the reason.
std::string DescribeOpenFailure(unsigned port, const OpenAttempt& attempt);

// Says DescribeOpenFailure on standard error, for whoever started the
// console from a terminal, and returns it.
std::string ReportOpenFailure(unsigned port, const OpenAttempt& attempt);

// A failure of an open line in this system's words: the call as POSIX
// names it and the error's text, "read(): Input/output error"; `label` is
// the channel's failure point ("ReadFile()"), `error` its errno (0: the
// other end hung up). `path` is what the port opened: on a gateway's line
// the connection is named, "recv() from rfc2217://gw:4001: Connection reset by peer".
std::string DescribeLineFailure(const char* label, int error, std::string_view path = {});

// What to look at when an open line fails: the adapter, or the gateway
// when `path` is a network address.
std::string LineFailureRemedy(std::string_view path);

struct FailedOpen {
  unsigned port;
  OpenAttempt attempt;
};

// A port that opened but whose line failed while it was probed.
struct FailedLine {
  unsigned port;
  std::string path;
  std::string failure;  // as DescribeLineFailure says it: "write(): Input/output error"
};

// What a search that found no device tells the operator beneath its
// message: the ports that opened but did not answer, the ports whose line
// failed while probed, and the ports that could not be opened for a
// reason other than not being there, one line per reason (ports sharing a
// reason are listed together). Empty when there is nothing to say.
std::string SummariseSearch(const std::vector<unsigned>& silent, const std::vector<FailedOpen>& failed,
                            const std::vector<FailedLine>& broken = {});

}  // namespace vantorq
