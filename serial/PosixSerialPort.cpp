// The serial port over POSIX termios.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <utility>

#include "ComPorts.h"
#include "LockFile.h"
#include "ManualEvent.h"
#include "SerialPort.h"

namespace vantorq {

namespace {

struct BaudEntry {
  int baud;
  speed_t speed;
};

constexpr std::array<BaudEntry, 17> kBauds{{
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000},
}};

bool SpeedFor(int baud, speed_t& speed) {
  for (const auto& e : kBauds) {
    if (e.baud == baud) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

int BaudFor(speed_t speed) {
  for (const auto& e : kBauds) {
    if (e.speed == speed) return e.baud;
  }
  return 0;
}

bool ParseInt(std::string_view text, int& value) {
  const auto* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Unix98 pseudo-terminal slaves: majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

class PosixSerialPort final : public CDescriptorPort {
 public:
  PosixSerialPort(int fd, CUucpLock lock, const termios& found)
      : CDescriptorPort(fd), m_pseudo(IsPseudoTerminal(fd)), m_found(found), m_lock(std::move(lock)) {}

  ~PosixSerialPort() override {
    // The line is left as we found it: a port probed by a search may be a
    // terminal somebody uses, and raw 57600 is no setting of theirs.
    if (!m_dead) ::tcsetattr(m_fd, TCSANOW, &m_found);
    // TIOCEXCL outlives our descriptor while anyone else keeps the tty open
    // (a simulator does); without this, the next non-root open would fail.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
  }

  bool GetState(LineState& state) override {
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) return false;
    state.baud = BaudFor(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
      case CS5: state.dataBits = 5; break;
      case CS6: state.dataBits = 6; break;
      case CS7: state.dataBits = 7; break;
      default: state.dataBits = 8; break;
    }
    state.parity = (t.c_cflag & PARENB) == 0 ? 'N' : ((t.c_cflag & PARODD) != 0 ? 'O' : 'E');
    state.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    state.flowControl = (t.c_cflag & CRTSCTS) != 0 || (t.c_iflag & (IXON | IXOFF)) != 0;
    return true;
  }

  bool SetState(const LineState& state) override {
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) return false;
    speed_t speed{};
    if (!SpeedFor(state.baud, speed)) return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (state.dataBits) {
      case 5: t.c_cflag |= CS5; break;
      case 6: t.c_cflag |= CS6; break;
      case 7: t.c_cflag |= CS7; break;
      default: t.c_cflag |= CS8; break;
    }
    switch (state.parity) {
      case 'E': t.c_cflag |= PARENB; break;
      case 'O': t.c_cflag |= PARENB | PARODD; break;
      case 'M': t.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case 'S': t.c_cflag |= PARENB | CMSPAR; break;
      default: break;
    }
    if (state.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (state.flowControl) t.c_cflag |= CRTSCTS;
    // Reads never block: the monitor learns of input from poll().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
    if (::tcsetattr(m_fd, TCSANOW, &t) != 0) return false;
    if (state.rtsEnabled) {
      int bits = TIOCM_RTS;
      // A pseudo-terminal has no modem lines and answers ENOTTY/EINVAL:
      // there is no RTS to raise, which is not a fault of the line.
      if (::ioctl(m_fd, TIOCMBIS, &bits) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
      }
    }
    return true;
  }

  bool Purge() override {
    m_rxBegin = m_rxEnd = 0;
    // A pseudo-terminal has no output queue of its own: what was written
    // already waits in the far end's input (a socat gateway, the
    // simulator), and flushing "output" would take it back from there.
    return ::tcflush(m_fd, m_pseudo ? TCIFLUSH : TCIOFLUSH) == 0 || errno == ENOTTY;
  }

  bool QueryStatus(PortStatus& status) override {
    status = {};
    if (m_dead) return true;
    if (m_rxEnd > m_rxBegin) {
      status.waiting = m_rxEnd - m_rxBegin;
      return true;
    }
    int count = 0;
    if (::ioctl(m_fd, FIONREAD, &count) != 0) {
      // A hung-up tty refuses every ioctl with EIO: the read will tell.
      status.broken = true;
      return true;
    }
    status.waiting = count > 0 ? static_cast<std::size_t>(count) : 0;
    if (status.waiting == 0) status.broken = HungUp();
    return true;
  }

  IoResult ReadByte(std::uint8_t& byte) override {
    if (m_dead) return IoResult::Failed;
    if (m_rxEnd == m_rxBegin) {
      const auto n = ::read(m_fd, m_rx.data(), m_rx.size());
      if (n > 0) {
        m_rxBegin = 0;
        m_rxEnd = static_cast<std::size_t>(n);
      } else {
        return ReadFailure(n);
      }
    }
    byte = m_rx[m_rxBegin++];
    return IoResult::Done;
  }

  bool FinishRead(std::uint8_t& byte) override {
    const int ms = static_cast<int>(m_timeouts.readTotalConstant + m_timeouts.readTotalMultiplier);
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    return ReadByte(byte) == IoResult::Done;
  }

  IoResult Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
    written = 0;
    if (m_dead) return IoResult::Failed;
    for (;;) {
      const auto n = ::write(m_fd, bytes.data(), bytes.size());
      if (n > 0) {
        written = static_cast<std::size_t>(n);
        return IoResult::Done;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return IoResult::Pending;
      m_errno = n < 0 ? errno : EIO;
      return IoResult::Failed;
    }
  }

  bool OutputQueued(std::size_t& count) override {
    int queued = 0;
    // What the driver still holds: the kernel's queue and, for most UARTs
    // and adapters, the hardware's own buffer. A pseudo-terminal reports 0.
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0) {
      if (errno == ENOTTY || errno == EINVAL) {
        count = 0;
        return true;
      }
      m_errno = errno;
      return false;
    }
    count = queued > 0 ? static_cast<std::size_t>(queued) : 0;
    return true;
  }

  int EventFd() const override { return m_dead ? -1 : m_fd; }
  int LastErrno() const override { return m_errno; }
  std::size_t Held() const override { return m_rxEnd - m_rxBegin; }

  bool HungUp() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }

 private:
  IoResult ReadFailure(ssize_t n) {
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return IoResult::Pending;
    // In raw mode with no minimum count a tty also reads 0 when merely
    // empty; only a hang-up makes that the end.
    if (n == 0 && !HungUp()) return IoResult::Pending;
    // End of file or an error on a tty: the other end is gone. Stop
    // watching it, or poll() would report the hang-up forever.
    m_errno = n < 0 ? errno : 0;
    m_dead = true;
    return IoResult::Failed;
  }

  int m_errno = 0;  // of the last call that failed
  bool m_pseudo;    // the slave side of a pseudo-terminal
  termios m_found;  // the line's settings before we changed them
  // The tail of the input queue, fetched with one read() instead of one
  // per byte. It counts as queued input: the status includes it and a
  // purge empties it with the rest.
  std::array<std::uint8_t, 1024> m_rx{};
  std::size_t m_rxBegin = 0;
  std::size_t m_rxEnd = 0;
  bool m_dead = false;
  // Released after the descriptor is closed (members go last).
  CUucpLock m_lock;
};

class PosixOpener final : public IPortOpener {
 public:
  std::unique_ptr<ISerialPort> Open(std::string_view deviceName, OpenAttempt& attempt) override {
    attempt = {};
    const std::string path = ComDevicePath(ComPortFromName(deviceName));
    if (path.empty()) {
      attempt.error = ENOENT;
      return nullptr;
    }
    return OpenLine(path, attempt);
  }
};

}  // namespace

bool CDescriptorPort::WaitWritable(std::chrono::milliseconds timeout, const CManualEvent* stop) {
  std::array<pollfd, 2> p{{{m_fd, POLLOUT, 0}, {stop != nullptr ? stop->Fd() : -1, POLLIN, 0}}};
  const int ready = ::poll(p.data(), p.size(), static_cast<int>(timeout.count()));
  return ready > 0 && p[1].revents == 0 && (p[0].revents & POLLOUT) != 0 &&
         (p[0].revents & (POLLERR | POLLNVAL)) == 0;
}

std::unique_ptr<ISerialPort> OpenPosixPort(const std::string& path, OpenAttempt& attempt) {
  attempt = {};
  attempt.path = path;
  // The lock file first, as every program that honours it does, so that
  // we never touch a line another program has claimed.
  CUucpLock lock;
  if (const int busy = lock.Acquire(attempt.path, attempt.holder); busy != 0) {
    attempt.error = busy;
    return nullptr;
  }
  const int fd = ::open(attempt.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    attempt.error = errno;
    return nullptr;
  }
  auto fail = [&](int code) -> std::unique_ptr<ISerialPort> {
    attempt.error = code;
    ::close(fd);
    return nullptr;
  };
  if (!::isatty(fd)) return fail(ENOTTY);
  // flock keeps out every other program that plays by the same rule,
  // root included, and a second open from this process; TIOCEXCL keeps
  // out ordinary users' programs that never flock. Neither alone closes
  // both gaps, and the lock file covers the programs that use only it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (::ioctl(fd, TIOCEXCL) != 0) return fail(errno);
  termios found{};
  if (::tcgetattr(fd, &found) != 0) return fail(errno);
  return std::make_unique<PosixSerialPort>(fd, std::move(lock), found);
}

bool ApplySettingsText(std::string_view text, LineState& state) {
  LineState next = state;
  while (!text.empty()) {
    text = Trim(text);
    const auto space = text.find(' ');
    const auto item = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view{} : text.substr(space);
    if (item.empty()) continue;
    const auto eq = item.find('=');
    if (eq == std::string_view::npos) return false;
    const auto key = item.substr(0, eq);
    const auto value = item.substr(eq + 1);
    int n = 0;
    if (key == "baud") {
      speed_t speed{};
      if (!ParseInt(value, n) || !SpeedFor(n, speed)) return false;
      next.baud = n;
    } else if (key == "parity") {
      if (value.size() != 1) return false;
      const char p = static_cast<char>(value[0] & ~0x20);
      if (p != 'N' && p != 'E' && p != 'O' && p != 'M' && p != 'S') return false;
      next.parity = p;
    } else if (key == "data") {
      if (!ParseInt(value, n) || n < 5 || n > 8) return false;
      next.dataBits = n;
    } else if (key == "stop") {
      if (!ParseInt(value, n) || (n != 1 && n != 2)) return false;
      next.stopBits = n;
    } else {
      return false;
    }
  }
  // Naming the line's settings in full means no flow control of any kind.
  next.flowControl = false;
  state = next;
  return true;
}

std::shared_ptr<IPortOpener> PosixPortOpener() {
  static const auto opener = std::make_shared<PosixOpener>();
  return opener;
}

}  // namespace vantorq
