// How fast the serial channel hands received bytes to the user-interface
// thread: throughput over a pseudo-terminal and per-byte latency.
// Prints "name value unit" lines for bench/run.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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
  const bool all = PumpUntil([&] { return owner.bytes >= total; }, std::chrono::seconds(120));
  feeder.join();
  const double seconds = std::chrono::duration<double>(owner.last - start).count();
  std::printf("receive_throughput %.0f bytes/s\n", all ? total / seconds : 0.0);

  // Latency: one byte at a time, from write to handled.
  std::vector<double> samples;
  for (int i = 0; i < 2000; ++i) {
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
  channel.Close();
  return all ? 0 : 1;
}
