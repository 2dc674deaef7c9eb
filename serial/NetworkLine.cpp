#include "NetworkLine.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/sockios.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "LockFile.h"
#include "ManualEvent.h"
#include "TelnetCodec.h"
#include "Trace.h"

namespace vantorq {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kRawScheme = "socket://";
constexpr std::string_view kTelnetScheme = "rfc2217://";

// A resolved name is trusted this long: a gateway that moves gets found
// again without restarting the console.
constexpr std::chrono::seconds kResolutionKept{30};

std::atomic<int> g_stopFd{-1};

bool StopRaised() {
  pollfd p{g_stopFd.load(), POLLIN, 0};
  return p.fd >= 0 && ::poll(&p, 1, 0) == 1;
}

// ---- name resolution, off the caller's thread -------------------------

struct Resolution {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  int error = 0;  // a getaddrinfo code
  std::vector<std::pair<sockaddr_storage, socklen_t>> addresses;
  Clock::time_point at{};
};

std::mutex g_resolutionsLock;
std::map<std::string, std::shared_ptr<Resolution>> g_resolutions;

void Resolve(const std::shared_ptr<Resolution>& r, const std::string& host, const std::string& service) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  std::vector<std::pair<sockaddr_storage, socklen_t>> found;
  for (const addrinfo* a = list; error == 0 && a != nullptr; a = a->ai_next) {
    sockaddr_storage s{};
    std::memcpy(&s, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof s));
    found.emplace_back(s, a->ai_addrlen);
  }
  if (list != nullptr) ::freeaddrinfo(list);
  {
    std::lock_guard guard(r->lock);
    r->error = error;
    r->addresses = std::move(found);
    r->at = Clock::now();
    r->finished = true;
  }
  r->done.notify_all();
}

std::shared_ptr<Resolution> StartResolving(const NetworkAddress& address) {
  const std::string key = address.host + "\n" + address.service;
  std::lock_guard guard(g_resolutionsLock);
  auto& entry = g_resolutions[key];
  if (entry) {
    std::lock_guard inner(entry->lock);
    const bool fresh = entry->error == 0 && Clock::now() - entry->at < kResolutionKept;
    if (!entry->finished || fresh) return entry;
  }
  entry = std::make_shared<Resolution>();
  try {
    // Detached: a name server that never answers holds this thread, not
    // the window or the search.
    std::thread([r = entry, host = address.host, service = address.service] { Resolve(r, host, service); }).detach();
  } catch (const std::system_error&) {
    Resolve(entry, address.host, address.service);
  }
  return entry;
}

std::string HostPort(const NetworkAddress& a) {
  const bool v6 = a.host.find(':') != std::string::npos;
  return (v6 ? "[" + a.host + "]" : a.host) + ":" + a.service;
}

std::string ConnectFailure(const NetworkAddress& a, int error) {
  const std::string where = HostPort(a);
  switch (error) {
    case ECONNREFUSED:
      return where + " refused the connection \u2014 is it the gateway's port, and is that port enabled?";
    case ETIMEDOUT:
      return "no connection to " + where + " within " + std::to_string(kNetworkOpenWindow.count()) +
             " ms \u2014 is the gateway on and reachable?";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "no route to " + where + " \u2014 is this PC on the gateway's network?";
    default:
      return where + ": " + std::strerror(error);
  }
}

// Connects to one of the addresses by `deadline`; the descriptor, or -1
// with `error` set.
int Connect(const std::vector<std::pair<sockaddr_storage, socklen_t>>& addresses, Clock::time_point deadline,
            int& error) {
  error = ETIMEDOUT;
  for (const auto& [address, length] : addresses) {
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = errno;
      continue;
    }
    int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    if (result != 0 && errno == EINPROGRESS) {
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
          errno = ETIMEDOUT;
          break;
        }
        std::array<pollfd, 2> p{{{fd, POLLOUT, 0}, {g_stopFd.load(), POLLIN, 0}}};
        const int ready = ::poll(p.data(), p.size(), static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
          errno = ready == 0 ? ETIMEDOUT : errno;
          break;
        }
        if (p[1].revents != 0) {
          ::close(fd);
          error = EINTR;
          return -1;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        result = soError == 0 ? 0 : -1;
        errno = soError;
        break;
      }
    }
    if (result == 0) return fd;
    error = errno;
    ::close(fd);
    if (Clock::now() >= deadline) break;
  }
  return -1;
}

// Settings that make a network line behave like a serial one: each command
// leaves at once, and a gateway that vanishes is noticed in seconds, not
// the kernel's quarter of an hour.
void TuneSocket(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  const int idle = 5, interval = 2, count = 3;
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  const unsigned userTimeout = 5000;  // ms a sent byte may stay unacknowledged
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

class CNetworkPort final : public CDescriptorPort {
 public:
  CNetworkPort(int fd, bool telnet, CUucpLock lock) : CDescriptorPort(fd), m_telnet(telnet), m_lock(std::move(lock)) {
    m_state.baud = 57600;
    if (m_telnet) Send(m_codec.Greeting());
  }
  ~CNetworkPort() override {
    Flush();
    ::close(m_fd);
  }

  bool GetState(LineState& state) override {
    state = m_state;
    return !m_dead;
  }

  bool SetState(const LineState& state) override {
    m_state = state;
    // A raw gateway holds the line's settings in its own configuration.
    if (!m_telnet) return !m_dead;
    using namespace telnet;
    std::vector<std::uint8_t> out;
    const auto baud = static_cast<std::uint32_t>(state.baud);
    const std::array<std::uint8_t, 4> rate{static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                           static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    CTelnetCodec::ComPortCommand(kSetBaudRate, rate, out);
    const std::uint8_t size = static_cast<std::uint8_t>(state.dataBits);
    CTelnetCodec::ComPortCommand(kSetDataSize, {&size, 1}, out);
    // 1 none, 2 odd, 3 even, 4 mark, 5 space.
    const std::uint8_t parity = state.parity == 'O' ? 2 : state.parity == 'E' ? 3 : state.parity == 'M' ? 4
                                : state.parity == 'S' ? 5 : 1;
    CTelnetCodec::ComPortCommand(kSetParity, {&parity, 1}, out);
    const std::uint8_t stop = state.stopBits == 2 ? 2 : 1;
    CTelnetCodec::ComPortCommand(kSetStopSize, {&stop, 1}, out);
    const std::uint8_t flow = state.flowControl ? 3 : 1;  // hardware, or none
    CTelnetCodec::ComPortCommand(kSetControl, {&flow, 1}, out);
    if (state.rtsEnabled) {
      const std::uint8_t rtsOn = 11;
      CTelnetCodec::ComPortCommand(kSetControl, {&rtsOn, 1}, out);
    }
    return Send(out);
  }

  bool Purge() override {
    m_rx.clear();
    m_rxBegin = 0;
    // What the socket already holds was received before the purge, as a
    // local port's input queue is: it goes too.
    for (int piece = 0; piece < 16 && Fill(); ++piece) {
    }
    m_rx.clear();
    m_rxBegin = 0;
    if (m_telnet && !m_dead) {
      // The gateway's receive buffer only: its transmit buffer holds bytes
      // we have already counted as sent, and they must still reach the unit.
      std::vector<std::uint8_t> out;
      const std::uint8_t receive = 1;
      CTelnetCodec::ComPortCommand(telnet::kPurgeData, {&receive, 1}, out);
      return Send(out);
    }
    return !m_dead;
  }

  bool QueryStatus(PortStatus& status) override {
    status = {};
    if (m_dead) return true;
    if (Buffered() == 0) Fill();
    status.waiting = Buffered();
    status.broken = status.waiting == 0 && m_closed;
    return true;
  }

  IoResult ReadByte(std::uint8_t& byte) override {
    if (m_dead) return IoResult::Failed;
    if (Buffered() == 0) Fill();
    if (Buffered() == 0) {
      if (!m_closed) return IoResult::Pending;
      m_dead = true;  // stop watching a socket whose end is reached
      return IoResult::Failed;
    }
    byte = m_rx[m_rxBegin++];
    if (m_rxBegin == m_rx.size()) {
      m_rx.clear();
      m_rxBegin = 0;
    }
    return IoResult::Done;
  }

  bool FinishRead(std::uint8_t& byte) override {
    const auto wait = std::chrono::milliseconds(m_timeouts.readTotalConstant + m_timeouts.readTotalMultiplier);
    const auto deadline = Clock::now() + wait;
    while (!m_dead) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{m_fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
      // Telnet bytes alone wake us without a data byte: wait again.
      if (const auto r = ReadByte(byte); r != IoResult::Pending) return r == IoResult::Done;
    }
    return false;
  }

  IoResult Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
    written = 0;
    if (m_dead || !Flush()) return IoResult::Failed;
    if (!m_out.empty()) return IoResult::Pending;
    // A bounded piece at a time, so that what waits here stays small.
    const auto piece = bytes.first(std::min<std::size_t>(bytes.size(), 4096));
    if (m_telnet) {
      CTelnetCodec::Escape(piece, m_out);
    } else {
      m_out.assign(piece.begin(), piece.end());
    }
    if (!Flush()) return IoResult::Failed;
    written = piece.size();
    return IoResult::Done;
  }

  bool OutputQueued(std::size_t& count) override {
    if (!Flush()) return false;
    int unsent = 0;
    // Bytes the gateway has not yet acknowledged: they may still be lost.
    if (::ioctl(m_fd, SIOCOUTQ, &unsent) != 0) unsent = 0;
    count = m_out.size() + static_cast<std::size_t>(std::max(unsent, 0));
    return true;
  }

  int EventFd() const override { return m_dead ? -1 : m_fd; }
  int LastErrno() const override { return m_errno; }
  std::size_t Held() const override { return m_dead ? 0 : Buffered(); }

 private:
  std::size_t Buffered() const { return m_rx.size() - m_rxBegin; }

  // Takes what the socket holds now; false when nothing more came.
  bool Fill() {
    if (m_closed) return false;
    std::array<std::uint8_t, 4096> in{};
    ssize_t n = 0;
    do {
      n = ::recv(m_fd, in.data(), in.size(), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) {
      m_closed = true;
      m_errno = n < 0 ? errno : 0;
      return false;
    }
    // A gateway that sends a reply in pieces may hold the next piece until
    // this one is acknowledged (Nagle), and Linux would delay the
    // acknowledgement by up to 40 ms: acknowledge at once. The kernel
    // forgets the setting, so it is made after every read.
    const int quick = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
    const std::span<const std::uint8_t> got{in.data(), static_cast<std::size_t>(n)};
    if (m_telnet) {
      std::vector<std::uint8_t> reply;
      m_codec.Decode(got, m_rx, reply);
      if (!reply.empty()) Send(reply);
    } else {
      m_rx.insert(m_rx.end(), got.begin(), got.end());
    }
    return true;
  }

  // Queues `bytes` behind what waits and sends what the socket takes.
  bool Send(const std::vector<std::uint8_t>& bytes) {
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    return Flush();
  }

  // Hands waiting bytes to the socket; false when it refused them.
  bool Flush() {
    while (!m_out.empty()) {
      const auto n = ::send(m_fd, m_out.data(), m_out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        m_out.erase(m_out.begin(), m_out.begin() + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      m_errno = n < 0 ? errno : EIO;
      m_closed = true;
      return false;
    }
    return true;
  }

  bool m_telnet;
  CTelnetCodec m_codec;
  LineState m_state;
  std::vector<std::uint8_t> m_rx;  // data received and not yet read, from m_rxBegin
  std::size_t m_rxBegin = 0;
  std::vector<std::uint8_t> m_out;  // bytes the socket has not taken yet
  bool m_closed = false;            // the gateway ended the connection, or it failed
  bool m_dead = false;              // ... and every byte before that was read
  int m_errno = 0;
  CUucpLock m_lock;  // released after the socket is closed
};

}  // namespace

bool LooksLikeNetworkAddress(std::string_view text) {
  return text.substr(0, kRawScheme.size()) == kRawScheme || text.substr(0, kTelnetScheme.size()) == kTelnetScheme;
}

bool ParseNetworkAddress(std::string_view text, NetworkAddress& address, std::string& error) {
  const std::string form = "socket://HOST:PORT or rfc2217://HOST:PORT";
  NetworkAddress a;
  if (text.substr(0, kRawScheme.size()) == kRawScheme) {
    text.remove_prefix(kRawScheme.size());
  } else if (text.substr(0, kTelnetScheme.size()) == kTelnetScheme) {
    a.telnet = true;
    text.remove_prefix(kTelnetScheme.size());
  } else {
    error = "a gateway is " + form;
    return false;
  }
  std::string_view host;
  std::string_view service;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "an IPv6 gateway is written [ADDRESS]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    service = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      error = "the gateway's TCP port is missing: " + form;
      return false;
    }
    host = text.substr(0, colon);
    service = text.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      error = "an IPv6 gateway is written [ADDRESS]:PORT";
      return false;
    }
  }
  const bool hostOk = !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == ':' || c == '_' || c == '%';
  });
  if (!hostOk) {
    error = "the gateway's host is a name or an address (letters, digits, '-', '.')";
    return false;
  }
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(service.data(), service.data() + service.size(), port);
  if (service.empty() || service.front() == '0' || ec != std::errc() || end != service.data() + service.size() ||
      port < 1 || port > 65535) {
    error = "the gateway's TCP port is a number from 1 to 65535";
    return false;
  }
  a.host = std::string(host);
  a.service = std::string(service);
  address = std::move(a);
  return true;
}

void ResolveAhead(const NetworkAddress& address) { StartResolving(address); }

void SetNetworkOpenStop(int fd) { g_stopFd = fd; }

std::string NetworkLockKey(const NetworkAddress& address) {
  std::string host = address.host;
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  for (char& c : host) {
    if (c == '/') c = '_';
  }
  return "LCK..net_" + host + ":" + address.service;
}

std::unique_ptr<ISerialPort> OpenNetworkPort(const std::string& text, OpenAttempt& attempt) {
  attempt = {};
  attempt.path = text;
  NetworkAddress address;
  std::string problem;
  if (!ParseNetworkAddress(text, address, problem)) {
    attempt.error = EINVAL;
    attempt.reason = problem;
    return nullptr;
  }
  const auto deadline = Clock::now() + kNetworkOpenWindow;
  CUucpLock lock;
  if (const int busy = lock.AcquireName(NetworkLockKey(address), attempt.holder); busy != 0) {
    attempt.error = busy;
    return nullptr;
  }
  const auto resolution = StartResolving(address);
  std::vector<std::pair<sockaddr_storage, socklen_t>> addresses;
  {
    std::unique_lock guard(resolution->lock);
    // In slices, so that a signal ends the wait as it ends every other.
    bool interrupted = false;
    while (!resolution->finished && Clock::now() < deadline && !(interrupted = StopRaised())) {
      resolution->done.wait_until(guard, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
    }
    if (interrupted) {
      attempt.error = EINTR;
      attempt.reason = "interrupted";
      return nullptr;
    }
    if (!resolution->finished) {
      attempt.error = ETIMEDOUT;
      attempt.reason = "the name " + address.host + " did not resolve within " +
                       std::to_string(kNetworkOpenWindow.count()) + " ms (it is still being looked up)";
      return nullptr;
    }
    if (resolution->error != 0) {
      attempt.error = EHOSTUNREACH;
      attempt.reason = "the name " + address.host + " does not resolve: " + ::gai_strerror(resolution->error);
      return nullptr;
    }
    addresses = resolution->addresses;
  }
  int error = 0;
  const int fd = Connect(addresses, deadline, error);
  if (fd < 0) {
    attempt.error = error;
    attempt.reason = error == EINTR ? std::string("interrupted") : ConnectFailure(address, error);
    return nullptr;
  }
  TuneSocket(fd);
  return std::make_unique<CNetworkPort>(fd, address.telnet, std::move(lock));
}

std::unique_ptr<ISerialPort> OpenLine(const std::string& path, OpenAttempt& attempt) {
  return LooksLikeNetworkAddress(path) ? OpenNetworkPort(path, attempt) : OpenPosixPort(path, attempt);
}

}  // namespace vantorq
