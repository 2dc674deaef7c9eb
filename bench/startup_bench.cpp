// Start-up time to the first shown window, and resident memory when idle,
// of the console beside a bare Qt dialog measured the same way in the same
// run: the ratios say what the console costs above Qt's own floor. The
// child runs the console's own start-up (the same application and window
// classes as vantorq), or an empty QDialog, and reports the moment its
// window first paints; the parent starts it afresh each round and takes
// the time from just before exec.

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ConsoleApp.h"
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

// "console" or "bare"; `idle` keeps the window up instead of quitting.
int Child(int argc, char** argv, const std::string& what, bool idle) {
  QApplication app(argc, argv);
  std::unique_ptr<QDialog> dialog;
  if (what == "console") {
    vantorq::ConfigureApplication(app);
    dialog = std::make_unique<vantorq::CConsoleDlg>();
  } else {
    // The floor: a dialog of the console's size with a line of text and a
    // button, as the least of dialogs has.
    dialog = std::make_unique<QDialog>();
    dialog->resize(768, 513);
    auto* layout = new QVBoxLayout(dialog.get());
    layout->addWidget(new QLabel(QStringLiteral("Vantorq")));
    layout->addWidget(new QPushButton(QStringLiteral("OK")));
  }
  FirstPaint filter;
  if (!idle) dialog->installEventFilter(&filter);
  dialog->show();
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

// Start-up of the console and of the bare dialog in fresh processes, taken
// in turns so that both meet the same machine: medians and maxima, in ms.
bool StartUps(int rounds, std::vector<double>& console, std::vector<double>& bare) {
  for (int round = 0; round < rounds; ++round) {
    for (const auto& [what, into] : {std::pair{"console", &console}, std::pair{"bare", &bare}}) {
      long long started = 0;
      const std::string out = Run({"/proc/self/exe", "--child", what}, started);
      if (out.empty()) return false;
      into->push_back((std::stoll(out) - started) / 1e6);
    }
  }
  std::sort(console.begin(), console.end());
  std::sort(bare.begin(), bare.end());
  return true;
}

// Resident memory of `what`, idle for three seconds, in MB.
double IdleMb(const std::string& what) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/proc/self/exe", "bench", "--idle", what.c_str(), nullptr);
    ::_exit(127);
  }
  ::sleep(3);
  const long kb = ResidentKb(pid);
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  return kb / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--child") return Child(argc, argv, argv[2], false);
  if (argc > 2 && std::string(argv[1]) == "--idle") return Child(argc, argv, argv[2], true);

  char dir[] = "/tmp/vantorq-bench-XXXXXX";
  if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) return 1;

  std::vector<double> consoleMs;
  std::vector<double> bareMs;
  if (!StartUps(1, consoleMs, bareMs)) return 1;  // warm the caches
  consoleMs.clear();
  bareMs.clear();
  if (!StartUps(25, consoleMs, bareMs)) return 1;
  const double consoleMedian = consoleMs[consoleMs.size() / 2];
  const double consoleMax = consoleMs.back();
  const double bareMedian = bareMs[bareMs.size() / 2];
  std::printf("startup_to_first_window_median %.0f ms\n", consoleMedian);
  std::printf("startup_to_first_window_max %.0f ms\n", consoleMax);
  std::printf("bare_dialog_startup_median %.0f ms\n", bareMedian);
  std::printf("startup_vs_bare_dialog %.2f x\n", consoleMedian / bareMedian);

  const double console = IdleMb("console");
  const double bare = IdleMb("bare");
  std::printf("idle_resident_memory %.1f MB\n", console);
  std::printf("bare_dialog_idle_memory %.1f MB\n", bare);
  std::printf("memory_vs_bare_dialog %.2f x\n", console / bare);
  ::unlink("KVAddrMg.ini");
  [[maybe_unused]] const int left = ::chdir("/");
  ::rmdir(dir);
  return console > 0 && bare > 0 ? 0 : 1;
}
