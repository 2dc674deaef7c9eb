#include "OpenFailure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "NetworkLine.h"
#include "Trace.h"

namespace vantorq {

bool PortMissing(int error) {
  // EIO: a ttyS entry with no UART behind it refuses to open this way.
  return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO || error == ENOTDIR;
}

std::string OpenFailureReason(const OpenAttempt& attempt) {
  if (!attempt.reason.empty()) return attempt.reason;
  switch (attempt.error) {
    case EACCES:
    case EPERM:
      return "Permission denied \u2014 add your user to the dialout group and log in again";
    case EBUSY:
    case EWOULDBLOCK:
      return attempt.holder.empty() ? "in use by another program"
                                    : "in use by another program (" + attempt.holder + ")";
    case ENOTTY:
      return "not a serial port";
    case EMFILE:
    case ENFILE:
      return "too many open files \u2014 close other programs or raise the limit (ulimit -n)";
    default:
      break;
  }
  if (PortMissing(attempt.error)) return "no such device";
  return std::strerror(attempt.error);
}

std::string DescribeLineFailure(const char* label, int error, std::string_view path) {
  // The channel's failure points keep the names the console's design gives
  // them; what they are here is what the operator is told.
  static const std::map<std::string_view, std::string_view> kCalls{
      {"SetCommTimeouts()", "tcsetattr()"}, {"SetCommMask()", "ioctl()"},     {"GetCommState()", "tcgetattr()"},
      {"BuildCommDCB()", "the line settings"}, {"SetCommState()", "tcsetattr()"}, {"WaitCommEvent()", "poll()"},
      {"ReadFile()", "read()"},             {"GetOverlappedResults() in ReadFile()", "read()"},
      {"WriteFile()", "write()"}};
  if (label == nullptr) return {};
  const auto call = kCalls.find(label);
  std::string name(call != kCalls.end() ? call->second : std::string_view("the port"));
  if (LooksLikeNetworkAddress(path)) {
    // A gateway's line ends as a connection does: say whose.
    name = (name == "read()" ? "recv() from " : name == "write()" ? "send() to " : name + " on ") + EscapeControls(path);
    if (error == 0) return name + ": the gateway closed the connection";
  }
  if (error == 0) return name + ": the other end hung up";
  if (error == ETIMEDOUT && name == "write()") return name + ": the line did not send it in time";
  return name + ": " + std::strerror(error);
}

std::string LineFailureRemedy(std::string_view path) {
  return LooksLikeNetworkAddress(path) ? "is the gateway still on and reachable?" : "is the adapter still plugged in?";
}

std::string DescribeOpenFailure(unsigned port, const OpenAttempt& attempt) {
  return "COM" + std::to_string(port) + " (" + (attempt.path.empty() ? "no device" : EscapeControls(attempt.path)) +
         "): " + OpenFailureReason(attempt);
}

std::string ReportOpenFailure(unsigned port, const OpenAttempt& attempt) {
  std::string why = DescribeOpenFailure(port, attempt);
  WriteErrorLine(ProgramName() + ": cannot open " + why);
  return why;
}

namespace {

std::string PortLabel(const FailedOpen& f) {
  return "COM" + std::to_string(f.port) + " (" + EscapeControls(f.attempt.path) + ")";
}

}  // namespace

std::string SummariseSearch(const std::vector<unsigned>& silent, const std::vector<FailedOpen>& failed,
                            const std::vector<FailedLine>& broken) {
  constexpr std::size_t kNamedPorts = 3;
  std::string text;
  if (!silent.empty()) {
    text += "No answer from ";
    for (std::size_t i = 0; i < silent.size(); ++i) {
      if (i > 0) text += ", ";
      text += "COM" + std::to_string(silent[i]);
    }
    text += ".";
  }
  for (const FailedLine& b : broken) {
    if (!text.empty()) text += "\n";
    text += "COM" + std::to_string(b.port) + " (" + EscapeControls(b.path) + "): the line failed while it was probed (" +
            b.failure + ")";
  }
  // In the order each reason was first met.
  std::vector<std::string> order;
  std::map<std::string, std::vector<const FailedOpen*>> byReason;
  for (const FailedOpen& f : failed) {
    if (PortMissing(f.attempt.error)) continue;
    const std::string reason = OpenFailureReason(f.attempt);
    if (byReason[reason].empty()) order.push_back(reason);
    byReason[reason].push_back(&f);
  }
  for (const std::string& reason : order) {
    const auto& ports = byReason[reason];
    if (!text.empty()) text += "\n";
    for (std::size_t i = 0; i < ports.size() && i < kNamedPorts; ++i) {
      if (i > 0) text += ", ";
      text += PortLabel(*ports[i]);
    }
    if (ports.size() > kNamedPorts) {
      text += " and " + std::to_string(ports.size() - kNamedPorts) + " more ports";
    }
    text += ": " + reason;
  }
  return text;
}

}  // namespace vantorq
