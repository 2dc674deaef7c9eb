#include "CtlFleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "CtlCommands.h"
#include "FileIo.h"
#include "Trace.h"

namespace vantorq::tool {

namespace {

struct Child {
  FleetChild* unit = nullptr;
  std::string outText;  // what is not yet a whole line, or (--json) all of it
  std::string errText;
  int status = -1;
  bool ended = false;
};

class CFleet {
 public:
  CFleet(FleetRun& run, const FleetRequest& request) : m_request(request), m_children(run.children.size()) {
    for (std::size_t i = 0; i < m_children.size(); ++i) {
      Child& c = m_children[i];
      c.unit = &run.children[i];
      if (!c.unit->startError.empty()) {
        c.ended = true;
        c.status = kCannot;
        WriteErrorLine("vantorq-ctl: " + c.unit->port + ": not run: " + c.unit->startError);
      }
    }
  }

  int Run() {
    while (std::any_of(m_children.begin(), m_children.end(), [](const Child& c) { return !c.ended; })) Pump();
    return Finish();
  }

 private:
  // Waits for what the children say, or a signal, and handles it.
  void Pump() {
    std::vector<pollfd> fds;
    std::vector<std::pair<Child*, bool>> owners;  // child, its standard output
    for (Child& c : m_children) {
      if (c.ended) continue;
      for (const bool isOut : {true, false}) {
        const int fd = isOut ? c.unit->out : c.unit->err;
        if (fd < 0) continue;
        fds.push_back({fd, POLLIN, 0});
        owners.emplace_back(&c, isOut);
      }
    }
    if (m_request.signalFd >= 0) fds.push_back({m_request.signalFd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) return;
    if (m_request.signalFd >= 0 && (fds.back().revents & POLLIN) != 0) PassOnSignals();
    for (std::size_t i = 0; i < owners.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto& [child, isOut] = owners[i];
      Drain(*child, isOut);
    }
    for (Child& c : m_children) {
      if (!c.ended && c.unit->out < 0 && c.unit->err < 0) Reap(c);
    }
  }

  void PassOnSignals() {
    unsigned char sig = 0;
    while (::read(m_request.signalFd, &sig, 1) == 1) {
      m_signalled = true;
      for (const Child& c : m_children) {
        if (c.unit->pid > 0 && !c.ended) ::kill(c.unit->pid, sig);
      }
    }
  }

  void Drain(Child& child, bool isOut) {
    int& fd = isOut ? child.unit->out : child.unit->err;
    std::array<char, 4096> buffer{};
    const auto n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
      ::close(fd);
      fd = -1;
      return;
    }
    std::string& text = isOut ? child.outText : child.errText;
    text.append(buffer.data(), static_cast<std::size_t>(n));
    if (!isOut && !m_request.answering) {
      // Each unit's reasons as they come: they name their port already.
      for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n')) {
        WriteErrorLine(text.substr(0, end));
        text.erase(0, end + 1);
      }
    }
    if (isOut && !m_request.json && !m_request.answering) {
      for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n')) {
        Print(child.unit->port + ": " + text.substr(0, end + 1));
        text.erase(0, end + 1);
      }
    }
  }

  void Reap(Child& child) {
    int raw = 0;
    while (::waitpid(child.unit->pid, &raw, 0) < 0 && errno == EINTR) {
    }
    child.ended = true;
    child.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : kNotConfirmed;
    if (!WIFEXITED(raw)) {
      WriteErrorLine("vantorq-ctl: " + child.unit->port + ": ended by signal " + std::to_string(WTERMSIG(raw)));
    }
    // What it said without a line end still counts.
    if (!m_request.answering) {
      if (!child.errText.empty()) WriteErrorLine(child.errText);
      child.errText.clear();
      if (!m_request.json && !child.outText.empty()) Print(child.unit->port + ": " + child.outText + "\n");
    } else if (child.status == kCannotOpen || child.status == kCannot) {
      // A port that is there but cannot be asked is said; silence is not.
      std::string text = child.errText;
      while (!text.empty() && text.back() == '\n') text.pop_back();
      if (!text.empty()) WriteErrorLine(text);
    }
  }

  void Print(const std::string& text) {
    const bool quick = m_signalled && m_request.stopFd >= 0;
    if (!WriteAllTo(STDOUT_FILENO, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                    quick ? m_request.stopFd : -1)) {
      if (m_unprinted.empty()) m_unprinted = errno == EINTR ? "interrupted" : std::strerror(errno);
    }
  }

  int Finish() {
    int worst = kDone;
    bool any = false;
    for (const Child& c : m_children) {
      worst = std::max(worst, c.status);
      any = any || c.status == kDone;
    }
    if (m_request.answering) {
      for (const Child& c : m_children) {
        if (c.status == kDone && !m_request.json) Print(c.unit->port + "\n");
      }
      if (!any && !m_request.json) WriteErrorLine("vantorq-ctl: no device answered on " + Ports());
      worst = any ? kDone : std::max(worst, kNotConfirmed);
    }
    if (m_request.json) {
      std::string array = "[";
      for (const Child& c : m_children) {
        std::string object = c.outText;
        while (!object.empty() && (object.back() == '\n' || object.back() == ' ')) object.pop_back();
        if (object.empty() || object.front() != '{') {
          CtlResult lost;
          lost.error = "it wrote no result";
          object = ResultJson(c.unit->port, m_request.command, c.status, lost);
        }
        array += std::string(array.size() > 1 ? ",\n " : "\n ") + object;
      }
      Print(array + "\n]\n");
    }
    if (m_signalled) worst = std::max(worst, kNotConfirmed);
    if (!m_unprinted.empty()) {
      WriteErrorLine("vantorq-ctl: standard output: " + m_unprinted + ": the units' results were not all printed");
      if (worst == kDone) worst = kNotReported;
    }
    return worst;
  }

  std::string Ports() const {
    if (m_children.empty()) return "no port";
    return m_children.front().unit->port +
           (m_children.size() > 1 ? " to " + m_children.back().unit->port + " (" + std::to_string(m_children.size()) + " ports)"
                                  : std::string());
  }

  const FleetRequest& m_request;
  std::vector<Child> m_children;
  bool m_signalled = false;
  std::string m_unprinted;
};

}  // namespace

FleetRun StartFleet(const std::vector<std::string>& ports, const std::function<void(std::size_t)>& unit) {
  FleetRun run;
  run.children.resize(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    FleetChild& child = run.children[i];
    child.port = ports[i];
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (::pipe2(out.data(), O_CLOEXEC) != 0 || ::pipe2(err.data(), O_CLOEXEC) != 0) {
      child.startError = std::string("pipe(): ") + std::strerror(errno);
      for (int fd : {out[0], out[1], err[0], err[1]}) {
        if (fd >= 0) ::close(fd);
      }
      continue;
    }
    child.pid = ::fork();
    if (child.pid == 0) {
      // The unit: standard output and error to the run, nothing to read,
      // and none of the other units' pipes.
      const int none = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      ::dup2(none, 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      for (std::size_t j = 0; j <= i; ++j) {
        for (int fd : {run.children[j].out, run.children[j].err}) {
          if (fd >= 0) ::close(fd);
        }
      }
      for (int fd : {out[0], out[1], err[0], err[1], none}) ::close(fd);
      unit(i);
      std::_Exit(kCannot);  // never reached: the unit ends the process
    }
    ::close(out[1]);
    ::close(err[1]);
    if (child.pid < 0) {
      child.startError = std::string("fork(): ") + std::strerror(errno);
      ::close(out[0]);
      ::close(err[0]);
      continue;
    }
    child.out = out[0];
    child.err = err[0];
  }
  return run;
}

int FinishFleet(FleetRun run, const FleetRequest& request) { return CFleet(run, request).Run(); }

std::string PortForFileName(const std::string& port) {
  std::string name;
  for (const char c : port) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (plain) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "port" : name;
}

std::string PerUnit(const std::string& pattern, const std::string& port) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'p') {
      out += PortForFileName(port);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace vantorq::tool
