// Start-up time to the first shown window, and resident memory of the idle
// console. The child runs the console's own start-up (the same application
// and window classes as vantorq) and reports the moment its window first
// paints; the parent starts it afresh each round and takes the time from
// just before exec.

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ConsoleDlg.h"

namespace {

long long NowNs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

class FirstPaint final : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !m_done) {
      m_done = true;
      std::printf("%lld\n", NowNs());
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
  }

 private:
  bool m_done = false;
};

int Child(int argc, char** argv) {
  QApplication app(argc, argv);
  vantorq::CConsoleDlg dialog;
  FirstPaint filter;
  dialog.installEventFilter(&filter);
  dialog.show();
  return app.exec();
}

// Runs `argv` with stdout read back; returns what it printed.
std::string Run(const std::vector<std::string>& args, long long& startedNs) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return {};
  startedNs = NowNs();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 1);
    ::close(pipefd[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--child") return Child(argc, argv);

  char dir[] = "/tmp/vantorq-bench-XXXXXX";
  if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) return 1;

  std::vector<double> ms;
  for (int round = 0; round < 10; ++round) {
    long long started = 0;
    const std::string out = Run({"/proc/self/exe", "--child"}, started);
    if (out.empty()) return 1;
    ms.push_back((std::stoll(out) - started) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("startup_to_first_window_median %.0f ms\n", ms[ms.size() / 2]);
  std::printf("startup_to_first_window_max %.0f ms\n", ms.back());

  // The real console, idle for three seconds.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(VANTORQ_CONSOLE, VANTORQ_CONSOLE, nullptr);
    ::_exit(127);
  }
  ::sleep(3);
  const long kb = ResidentKb(pid);
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  std::printf("idle_resident_memory %.1f MB\n", kb / 1024.0);
  ::unlink("KVAddrMg.ini");
  ::chdir("/");
  ::rmdir(dir);
  return kb > 0 ? 0 : 1;
}
