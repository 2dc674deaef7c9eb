#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vantorq::sim {

std::unique_ptr<CPseudoTerminal> CPseudoTerminal::Create() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return nullptr;
  // Non-blocking, so that a console that stops reading cannot hang us.
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ::close(master);
    return nullptr;
  }
  char name[128];
  if (::ptsname_r(master, name, sizeof name) != 0) {
    ::close(master);
    return nullptr;
  }
  const int hold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (hold < 0) {
    ::close(master);
    return nullptr;
  }
  // Raw from the start, so nothing is echoed or translated before the
  // console sets the line up itself.
  termios t{};
  if (::tcgetattr(hold, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(hold, TCSANOW, &t);
  }
  return std::unique_ptr<CPseudoTerminal>(new CPseudoTerminal(master, hold, name));
}

CPseudoTerminal::CPseudoTerminal(int master, int farHold, std::string farPath)
    : m_master(master), m_farHold(farHold), m_farPath(std::move(farPath)) {}

CPseudoTerminal::~CPseudoTerminal() { HangUp(); }

bool CPseudoTerminal::Send(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (m_master < 0) return false;
    const auto n = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    } else if (n < 0 && errno == EAGAIN) {
      // Nobody drains the line: give up rather than wait for ever.
      pollfd p{m_master, POLLOUT, 0};
      if (::poll(&p, 1, 1000) != 1) return false;
    }
  }
  return true;
}

bool CPseudoTerminal::Send(std::string_view text) {
  return Send({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::vector<std::uint8_t> CPseudoTerminal::Receive(std::chrono::milliseconds wait,
                                                   std::chrono::milliseconds quiet) {
  std::vector<std::uint8_t> out;
  if (m_master < 0) return out;
  int timeout = static_cast<int>(wait.count());
  for (;;) {
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, timeout) != 1 || (p.revents & POLLIN) == 0) break;
    std::uint8_t buf[4096];
    const auto n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
    timeout = static_cast<int>(quiet.count());
  }
  return out;
}

bool CPseudoTerminal::FarAttributes(termios& attributes) const {
  return m_farHold >= 0 && ::tcgetattr(m_farHold, &attributes) == 0;
}

void CPseudoTerminal::HangUp() {
  if (m_farHold >= 0) ::close(m_farHold);
  if (m_master >= 0) ::close(m_master);
  m_farHold = -1;
  m_master = -1;
}

CPortFolder::CPortFolder(std::string dir) : m_path(std::move(dir)) {
  if (m_path.empty()) {
    char templ[] = "/tmp/vantorq-ports-XXXXXX";
    if (::mkdtemp(templ) != nullptr) {
      m_path = templ;
      m_owned = true;
    }
  } else {
    ::mkdir(m_path.c_str(), 0755);
  }
}

CPortFolder::~CPortFolder() {
  for (unsigned com : m_links) ::unlink(LinkPath(com).c_str());
  if (m_owned) ::rmdir(m_path.c_str());
}

std::string CPortFolder::LinkPath(unsigned com) const {
  return m_path + "/COM" + std::to_string(com);
}

bool CPortFolder::Link(unsigned com, const std::string& target) {
  const std::string link = LinkPath(com);
  const bool ours = std::find(m_links.begin(), m_links.end(), com) != m_links.end();
  if (!ours) {
    // Whatever is there already is someone else's: never replaced, never
    // removed at the end.
    if (::symlink(target.c_str(), link.c_str()) != 0) return false;
    m_links.push_back(com);
    return true;
  }
  // Our own link, moved to a new terminal in one step.
  const std::string temp = link + ".new~";
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) return false;
  if (::rename(temp.c_str(), link.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

void CPortFolder::Unlink(unsigned com) {
  ::unlink(LinkPath(com).c_str());
  m_links.erase(std::remove(m_links.begin(), m_links.end(), com), m_links.end());
}

}  // namespace vantorq::sim
