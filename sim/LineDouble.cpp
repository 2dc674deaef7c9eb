#include "LineDouble.h"

#include <algorithm>
#include <cerrno>

#include "ComPorts.h"

namespace vantorq::sim {

class CLineDouble::Port final : public ISerialPort {
 public:
  explicit Port(CLineDouble& line) : m_line(line) {}

  bool SetTimeouts(const CommTimeouts&) override { return Locked([&] { return m_line.Step("timeouts"); }); }
  bool SetMask(std::uint32_t mask) override {
    return Locked([&] {
      m_line.m_mask = mask;
      return m_line.Step("mask");
    });
  }
  std::uint32_t GetMask() const override {
    std::lock_guard lock(m_line.m_mutex);
    return m_line.m_mask;
  }
  bool GetState(LineState& state) override {
    return Locked([&] {
      state = m_line.m_state;
      return m_line.Step("getstate");
    });
  }
  bool BuildState(std::string_view settings, LineState& state) override {
    return Locked([&] {
      m_line.m_settings = std::string(settings);
      return m_line.Step("build") && ApplySettingsText(settings, state);
    });
  }
  bool SetState(const LineState& state) override {
    return Locked([&] {
      m_line.m_state = state;
      return m_line.Step("setstate");
    });
  }
  bool Purge() override {
    return Locked([&] {
      const auto now = m_line.m_clock->Now();
      m_line.Advance(now);
      m_line.m_out.clear();
      m_line.m_lineFreeAt = now;
      m_line.m_in.clear();
      m_line.UpdateInputEvent();
      return m_line.Step("purge");
    });
  }
  bool QueryStatus(PortStatus& status) override {
    std::lock_guard lock(m_line.m_mutex);
    status = {};
    if (!m_line.m_dead) status.waiting = m_line.m_in.size();
    return true;
  }

  bool StartWait() override {
    std::unique_lock lock(m_line.m_mutex);
    if (m_line.m_hold) {
      m_line.m_parked = true;
      m_line.m_holdChanged.notify_all();
      m_line.m_holdChanged.wait(lock, [&] { return !m_line.m_hold; });
      m_line.m_parked = false;
    }
    return m_line.m_failStep != "wait";
  }

  IoResult ReadByte(std::uint8_t& byte) override {
    std::lock_guard lock(m_line.m_mutex);
    if (m_line.m_dead) return IoResult::Failed;
    if (m_line.m_readCount >= m_line.m_readLimit) {
      if (m_line.m_readFault == ReadFault::LostWhilePending) {
        m_line.m_readLost = true;
        return IoResult::Pending;
      }
      Die();
      return IoResult::Failed;
    }
    if (m_line.m_in.empty()) return IoResult::Pending;
    byte = m_line.m_in.front();
    m_line.m_in.pop_front();
    ++m_line.m_readCount;
    m_line.m_log.emplace_back("read");
    m_line.UpdateInputEvent();
    return IoResult::Done;
  }

  bool FinishRead(std::uint8_t& byte) override {
    std::lock_guard lock(m_line.m_mutex);
    if (m_line.m_readLost || m_line.m_in.empty()) {
      Die();
      return false;
    }
    byte = m_line.m_in.front();
    m_line.m_in.pop_front();
    ++m_line.m_readCount;
    m_line.UpdateInputEvent();
    return true;
  }

  IoResult Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
    std::lock_guard lock(m_line.m_mutex);
    written = 0;
    m_line.m_log.emplace_back("write");
    if (m_line.m_dead || m_line.m_writeCount >= m_line.m_writeLimit) return IoResult::Failed;
    const auto now = m_line.m_clock->Now();
    m_line.Advance(now);
    const std::size_t room = m_line.m_capacity - std::min(m_line.m_capacity, m_line.m_out.size());
    const std::size_t n = std::min({bytes.size(), room, m_line.m_writeLimit - m_line.m_writeCount});
    if (n == 0) return IoResult::Pending;
    for (std::size_t i = 0; i < n; ++i) {
      m_line.m_lineFreeAt = std::max({m_line.m_lineFreeAt, now, m_line.m_heldUntil}) + m_line.ByteTime();
      m_line.m_out.emplace_back(bytes[i], m_line.m_lineFreeAt);
    }
    m_line.m_writeCount += n;
    written = n;
    return IoResult::Done;
  }

  bool WaitWritable(std::chrono::milliseconds timeout, const CManualEvent* stop) override {
    std::chrono::microseconds wait = timeout;
    {
      std::lock_guard lock(m_line.m_mutex);
      const auto now = m_line.m_clock->Now();
      m_line.Advance(now);
      if (m_line.m_out.size() < m_line.m_capacity) return true;
      if (!m_line.m_stalled) {
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::microseconds>(
                                  m_line.m_out.front().second - now) +
                                  std::chrono::microseconds(1));
      }
    }
    if (m_line.m_clock->WaitFor(stop, wait)) return false;
    std::lock_guard lock(m_line.m_mutex);
    m_line.Advance(m_line.m_clock->Now());
    return m_line.m_out.size() < m_line.m_capacity;
  }

  bool OutputQueued(std::size_t& count) override {
    std::lock_guard lock(m_line.m_mutex);
    if (m_line.m_dead) return false;
    m_line.Advance(m_line.m_clock->Now());
    count = m_line.m_out.size();
    return true;
  }

  int EventFd() const override {
    std::lock_guard lock(m_line.m_mutex);
    return m_line.m_dead ? -1 : m_line.m_input.Fd();
  }

  // As a pulled adapter answers every call.
  int LastErrno() const override {
    std::lock_guard lock(m_line.m_mutex);
    return m_line.m_dead || m_line.m_writeCount >= m_line.m_writeLimit ? EIO : 0;
  }

 private:
  template <class F>
  bool Locked(F f) {
    std::lock_guard lock(m_line.m_mutex);
    return f();
  }
  // The adapter is gone: nothing more to read, nothing to wait on.
  void Die() {
    m_line.m_dead = true;
    m_line.m_in.clear();
    m_line.UpdateInputEvent();
  }

  CLineDouble& m_line;
};

CLineDouble::CLineDouble(std::shared_ptr<IClock> clock) : m_clock(std::move(clock)) {
  m_input.Create();
  m_lineFreeAt = m_clock->Now();
}

CLineDouble::~CLineDouble() = default;

bool CLineDouble::Step(const char* name) {
  m_log.emplace_back(name);
  return m_failStep != name;
}

std::chrono::nanoseconds CLineDouble::ByteTime() const {
  const int baud = m_state.baud > 0 ? m_state.baud : 57600;
  const int bits = 1 + m_state.dataBits + (m_state.parity != 'N' ? 1 : 0) + m_state.stopBits;
  return std::chrono::nanoseconds(1'000'000'000LL * bits / baud);
}

void CLineDouble::Advance(TimePoint now) {
  if (m_stalled) return;
  while (!m_out.empty() && m_out.front().second <= now) {
    m_wire.push_back(m_out.front().first);
    m_out.pop_front();
  }
}

void CLineDouble::UpdateInputEvent() {
  if (m_in.empty()) {
    m_input.Reset();
  } else {
    m_input.Set();
  }
}

void CLineDouble::Feed(std::string_view bytes) {
  std::lock_guard lock(m_mutex);
  m_in.insert(m_in.end(), bytes.begin(), bytes.end());
  UpdateInputEvent();
}

std::vector<std::uint8_t> CLineDouble::Wire() {
  std::lock_guard lock(m_mutex);
  Advance(m_clock->Now());
  return m_wire;
}

std::size_t CLineDouble::Queued() {
  std::lock_guard lock(m_mutex);
  Advance(m_clock->Now());
  return m_out.size();
}

void CLineDouble::FailStep(std::string step) {
  std::lock_guard lock(m_mutex);
  m_failStep = std::move(step);
}

void CLineDouble::FailReadAfter(std::size_t bytes, ReadFault fault) {
  std::lock_guard lock(m_mutex);
  m_readLimit = m_readCount + bytes;
  m_readFault = fault;
}

void CLineDouble::FailWriteAfter(std::size_t bytes) {
  std::lock_guard lock(m_mutex);
  m_writeLimit = m_writeCount + bytes;
}

void CLineDouble::StallWire() {
  std::lock_guard lock(m_mutex);
  Advance(m_clock->Now());
  m_stalled = true;
}

void CLineDouble::HoldLine(std::chrono::microseconds span) {
  std::lock_guard lock(m_mutex);
  m_heldUntil = m_clock->Now() + span;
}

void CLineDouble::SetQueueCapacity(std::size_t bytes) {
  std::lock_guard lock(m_mutex);
  m_capacity = std::max<std::size_t>(1, bytes);
}

void CLineDouble::HoldWaits() {
  std::lock_guard lock(m_mutex);
  m_hold = true;
}

void CLineDouble::ReleaseWaits() {
  std::lock_guard lock(m_mutex);
  m_hold = false;
  m_holdChanged.notify_all();
}

bool CLineDouble::MonitorParked() {
  std::lock_guard lock(m_mutex);
  return m_parked;
}

std::vector<std::string> CLineDouble::Log() {
  std::lock_guard lock(m_mutex);
  return m_log;
}

void CLineDouble::ClearLog() {
  std::lock_guard lock(m_mutex);
  m_log.clear();
}

std::string CLineDouble::Settings() {
  std::lock_guard lock(m_mutex);
  return m_settings;
}

LineState CLineDouble::State() {
  std::lock_guard lock(m_mutex);
  return m_state;
}

std::uint32_t CLineDouble::Mask() {
  std::lock_guard lock(m_mutex);
  return m_mask;
}

std::unique_ptr<ISerialPort> CLineDouble::MakePort() { return std::make_unique<Port>(*this); }

void CLineOpener::Add(unsigned com, std::shared_ptr<CLineDouble> line) { m_lines[com] = std::move(line); }

std::unique_ptr<ISerialPort> CLineOpener::Open(std::string_view deviceName, OpenAttempt& attempt) {
  m_names.emplace_back(deviceName);
  const unsigned com = ComPortFromName(deviceName);
  attempt.path = "line double COM" + std::to_string(com);
  const auto it = m_lines.find(com);
  if (it == m_lines.end()) {
    attempt.error = ENOENT;
    return nullptr;
  }
  return it->second->MakePort();
}

std::vector<std::string> CLineOpener::Names() const { return m_names; }

}  // namespace vantorq::sim
