#include "Simulator.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace vantorq::sim {

namespace {

// One byte at 57600 baud, 8N1: ten bits.
constexpr auto kByteTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 57600);
constexpr auto kReplugDelay = std::chrono::milliseconds(200);

}  // namespace

CSimulator::CSimulator(SimOptions options)
    : m_options(std::move(options)), m_device([this](const std::string& line) { AddLog(line); }) {
  m_device.SetUserEdidFault(m_options.userEdidFault);
}

CSimulator::~CSimulator() { Stop(); }

void CSimulator::AddLog(const std::string& line) {
  // Called with m_mutex held (the device logs from inside Receive).
  m_log.push_back(line);
  if (m_options.log) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
}

bool CSimulator::Attach(Port& port, std::string& error) {
  port.pty = CPseudoTerminal::Create();
  if (!port.pty) {
    error = "no pseudo-terminal to be had";
    return false;
  }
  if (!m_folder->Link(port.com, port.pty->FarPath())) {
    const int why = errno;
    error = why == EEXIST ? m_folder->LinkPath(port.com) +
                                " exists and is not one of the simulator's links: it was left as it is; choose an "
                                "empty folder"
                          : "cannot link " + m_folder->LinkPath(port.com) + ": " + std::strerror(why);
    return false;
  }
  return true;
}

bool CSimulator::Start(std::string& error) {
  m_folder = std::make_unique<CPortFolder>(m_options.portDir);
  if (m_folder->Path().empty() || ::access(m_folder->Path().c_str(), W_OK) != 0) {
    error = "cannot use the port folder " + m_options.portDir;
    return false;
  }
  if (m_options.com < 1 || m_options.com > 99) {
    error = "the device port must be within 1..99";
    return false;
  }
  m_ports.push_back({m_options.com, true, nullptr, {}});
  for (unsigned com : m_options.silent) {
    if (com < 1 || com > 99 || com == m_options.com) continue;
    if (std::any_of(m_ports.begin(), m_ports.end(), [&](const Port& p) { return p.com == com; })) continue;
    m_ports.push_back({com, false, nullptr, {}});
  }
  for (Port& port : m_ports) {
    if (!Attach(port, error)) return false;
  }
  return true;
}

const std::string& CSimulator::PortDir() const { return m_folder->Path(); }

std::vector<std::string> CSimulator::Log() const {
  std::lock_guard lock(m_mutex);
  return m_log;
}

std::vector<std::string> CSimulator::Commands() const {
  std::lock_guard lock(m_mutex);
  return m_device.Commands();
}

std::vector<std::uint8_t> CSimulator::Received(unsigned com) const {
  std::lock_guard lock(m_mutex);
  for (const Port& p : m_ports) {
    if (p.com == com) return p.received;
  }
  return {};
}

void CSimulator::WithDevice(const std::function<void(CDevice&)>& f) {
  std::lock_guard lock(m_mutex);
  f(m_device);
}

bool CSimulator::Replug() {
  std::lock_guard lock(m_mutex);
  std::string error;
  Port& port = m_ports.front();
  if (port.pty) port.pty->HangUp();
  return Attach(port, error);
}

void CSimulator::SendBytes(Port& port, std::string_view bytes) {
  if (!port.pty) return;
  if (m_options.hangUpAfter >= 0 && !m_hungUp) {
    // The line drops after exactly that many bytes, mid-line if need be.
    const auto left = static_cast<std::size_t>(std::max(0L, m_options.hangUpAfter - m_sent));
    bytes = bytes.substr(0, std::min(bytes.size(), left));
  }
  if (m_options.fast) {
    port.pty->Send(bytes);
    m_sent += static_cast<long>(bytes.size());
  } else {
    // Paced a byte at a time, as a real 57600-baud line delivers them.
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (char c : bytes) {
      if (!port.pty->Send(std::string_view(&c, 1))) return;
      ++m_sent;
      next.tv_nsec += kByteTime.count();
      if (next.tv_nsec >= 1'000'000'000) {
        next.tv_nsec -= 1'000'000'000;
        ++next.tv_sec;
      }
      ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
      // Only the first drop cuts a line short; after the replug the line is whole again.
      if (m_options.hangUpAfter >= 0 && !m_hungUp && m_sent >= m_options.hangUpAfter) break;
    }
  }
  if (m_options.hangUpAfter >= 0 && !m_hungUp && m_sent >= m_options.hangUpAfter) {
    AddLog("-- hang-up after " + std::to_string(m_sent) + " bytes");
    m_hungUp = true;
    port.pty->HangUp();
    port.pty.reset();
    m_folder->Unlink(port.com);
    m_replugAt = std::chrono::steady_clock::now() + kReplugDelay;
  }
}

void CSimulator::SendLine(Port& port, const std::string& line) {
  ++m_linesBegun;
  if (m_options.noise) {
    static std::mt19937 random(57600);
    std::string junk;
    const int n = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < n; ++i) {
      // Printable junk without tag letters' blanks: it can never form a tag.
      junk.push_back(static_cast<char>("#%&*+-/<=>?@~^"[random() % 14]));
    }
    SendBytes(port, junk + "\r\n");
  }
  if (m_options.splitMs > 0 && line.size() > 1) {
    const std::size_t half = line.size() / 2;
    SendBytes(port, std::string_view(line).substr(0, half));
    std::this_thread::sleep_for(std::chrono::milliseconds(m_options.splitMs));
    SendBytes(port, std::string_view(line).substr(half));
  } else {
    SendBytes(port, line);
  }
}

void CSimulator::Serve(Port& port) {
  std::uint8_t buf[4096];
  for (;;) {
    const auto n = ::read(port.pty->Master(), buf, sizeof buf);
    if (n <= 0) return;
    if (!m_options.fast) {
      // Taken in no faster than a 57600-baud line brings them: a
      // pseudo-terminal hands over a whole write at once.
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      const auto nowNs = std::chrono::nanoseconds(now.tv_sec * 1'000'000'000LL + now.tv_nsec);
      m_rxFreeAt = std::max(m_rxFreeAt, nowNs) + kByteTime * n;
      const timespec until{static_cast<time_t>(m_rxFreeAt.count() / 1'000'000'000),
                           static_cast<long>(m_rxFreeAt.count() % 1'000'000'000)};
      ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    }
    port.received.insert(port.received.end(), buf, buf + n);
    if (!port.answers || m_muted) continue;
    for (const std::string& line : m_device.Receive({buf, static_cast<std::size_t>(n)})) {
      SendLine(port, line);
      if (!port.pty) return;
    }
  }
}

void CSimulator::Run(const std::atomic<bool>& stop) {
  while (!stop && !m_stop) {
    std::vector<pollfd> fds;
    {
      std::lock_guard lock(m_mutex);
      if (m_hungUp && !m_ports.front().pty && std::chrono::steady_clock::now() >= m_replugAt) {
        std::string error;
        if (Attach(m_ports.front(), error)) AddLog("-- replugged");
      }
      for (const Port& p : m_ports) {
        fds.push_back({p.pty ? p.pty->Master() : -1, POLLIN, 0});
      }
    }
    if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < fds.size() && i < m_ports.size(); ++i) {
      if ((fds[i].revents & POLLIN) != 0 && m_ports[i].pty) Serve(m_ports[i]);
    }
  }
}

bool CSimulator::StartThread(std::string& error) {
  if (!Start(error)) return false;
  m_thread = std::thread([this] {
    const std::atomic<bool> never{false};
    Run(never);
  });
  return true;
}

void CSimulator::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace vantorq::sim
