// How fast the serial channel hands received bytes to the user-interface
// thread (throughput over a pseudo-terminal, per-byte latency), what it
// costs while the device streams at the line rate, and how long the
// 790-byte user-EDID write takes to leave a line that drains at 57600 baud.
// Prints "name value unit" lines for bench/run.

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "LineDouble.h"
#include "PseudoTerminal.h"
#include "SerialChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter final : vantorq::CSerialOwner {
  void OnSerialNotify(unsigned message, std::uintptr_t, std::intptr_t) override {
    if (message == vantorq::WM_SERIAL_BYTE) {
      ++bytes;
      last = Clock::now();
    }
  }
  std::size_t bytes = 0;
  Clock::time_point last;
};

bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A child process plays the device: one byte every 1/5760 s for `seconds`.
pid_t StreamAtLineRate(int master, int seconds) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  timespec next{};
  ::clock_gettime(CLOCK_MONOTONIC, &next);
  const long byteNs = 1'000'000'000L * 10 / 57600;
  for (long i = 0; i < 5760L * seconds; ++i) {
    const char c = static_cast<char>('0' + i % 10);
    if (::write(master, &c, 1) != 1) break;
    next.tv_nsec += byteNs;
    if (next.tv_nsec >= 1'000'000'000L) {
      next.tv_nsec -= 1'000'000'000L;
      ++next.tv_sec;
    }
    ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  std::_Exit(0);
}

// Percent of one core the channel and its owner use while the device
// streams at the line rate; the window's thread sleeps in its event loop.
double LineRateCpuPercent(vantorq::sim::CPseudoTerminal& pty, Counter& owner, int seconds) {
  const auto before = owner.bytes;
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  const pid_t child = StreamAtLineRate(pty.Master(), seconds);
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000 + 200, &loop, &QEventLoop::quit);
  loop.exec();
  ::waitpid(child, nullptr, 0);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  if (owner.bytes - before < 5760u * static_cast<unsigned>(seconds) * 9 / 10) return -1;
  return 100.0 * (CpuSeconds() - cpu) / wall;
}

// From queuing the 790-byte user-EDID write to its last byte on the wire
// of a line that drains at 57600 baud.
double UserEdidWriteMs() {
  auto line = std::make_shared<vantorq::sim::CLineDouble>();
  auto opener = std::make_shared<vantorq::sim::CLineOpener>();
  opener->Add(3, line);
  vantorq::CSerialChannel channel(opener);
  Counter owner;
  if (channel.Open(&owner, 3, 57600, 'N', 8, 1, 3, 1024) != 1 || channel.StartMonitor() != 1) return -1;
  PumpUntil([&] { return channel.MonitorRunning(); }, std::chrono::seconds(5));
  const std::vector<std::uint8_t> command(790, 'E');
  const auto start = Clock::now();
  channel.QueueWrite(command);
  while (line->Wire().size() < command.size()) {
    if (Clock::now() - start > std::chrono::seconds(5)) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  auto pty = vantorq::sim::CPseudoTerminal::Create();
  vantorq::sim::CPortFolder folder;
  if (!pty || !folder.Link(5, pty->FarPath())) return 1;
  ::setenv("VANTORQ_PORT_DIR", folder.Path().c_str(), 1);

  vantorq::CSerialChannel channel;
  Counter owner;
  if (channel.Open(&owner, 5, 57600, 'N', 8, 1, 3, 1024) != 1 || channel.StartMonitor() != 1) return 1;
  PumpUntil([&] { return channel.MonitorRunning(); }, std::chrono::seconds(5));

  // Throughput: a feeder thread keeps the line full; the clock runs from
  // the first byte written to the last one handled.
  const std::size_t total = argc > 1 ? std::stoul(argv[1]) : 2'000'000;
  std::thread feeder([&] {
    std::vector<std::uint8_t> block(4096, 'x');
    for (std::size_t sent = 0; sent < total; sent += block.size()) {
      block.resize(std::min<std::size_t>(4096, total - sent));
      pty->Send(block);
    }
  });
  const auto start = Clock::now();
  const auto burstHandOvers = channel.HandOvers();
  const bool all = PumpUntil([&] { return owner.bytes >= total; }, std::chrono::seconds(120));
  feeder.join();
  const double seconds = std::chrono::duration<double>(owner.last - start).count();
  std::printf("receive_throughput %.0f bytes/s\n", all ? total / seconds : 0.0);
  std::printf("receive_bytes_per_hand_over %.0f bytes\n",
              static_cast<double>(total) / static_cast<double>(channel.HandOvers() - burstHandOvers));

  // Latency: one byte at a time, from write to handled.
  std::vector<double> samples;
  for (int i = 0; i < 300; ++i) {
    const auto before = owner.bytes;
    const std::uint8_t b = 'L';
    const auto sentAt = Clock::now();
    pty->Send({&b, 1});
    if (!PumpUntil([&] { return owner.bytes > before; }, std::chrono::seconds(5))) break;
    samples.push_back(std::chrono::duration<double, std::micro>(owner.last - sentAt).count());
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    std::printf("receive_latency_median %.1f us\n", samples[samples.size() / 2]);
    std::printf("receive_latency_p99 %.1f us\n", samples[samples.size() * 99 / 100]);
  }
  const int streamSeconds = argc > 2 ? std::stoi(argv[2]) : 10;
  const auto handOvers = channel.HandOvers();
  std::printf("line_rate_cpu %.1f %%_of_one_core\n", LineRateCpuPercent(*pty, owner, streamSeconds));
  std::printf("line_rate_hand_overs %.0f per_second\n",
              static_cast<double>(channel.HandOvers() - handOvers) / streamSeconds);
  channel.Close();

  const double minimum = 790.0 * 10 / 57600 * 1000;
  const double took = UserEdidWriteMs();
  std::printf("user_edid_write %.1f ms\n", took);
  std::printf("user_edid_write_vs_line %.3f x_of_%.1f_ms\n", took / minimum, minimum);
  return all ? 0 : 1;
}
