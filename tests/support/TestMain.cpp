// One entry for every test program: an application object for the widgets
// and the cross-thread deliveries, and a private working directory, since
// the console writes its files into the current one.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef VANTORQ_TESTS_WITHOUT_WIDGETS
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  TestApplication app(argc, argv);
  char dir[] = "/tmp/vantorq-test-XXXXXX";
  if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) return 2;
  // Port lock files go to a folder of our own, not the system's.
  const std::string locks = std::string(dir) + "/locks";
  std::filesystem::create_directory(locks);
  ::setenv("VANTORQ_LOCK_DIR", locks.c_str(), 1);
  const int result = RUN_ALL_TESTS();
  [[maybe_unused]] const int left = ::chdir("/");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return result;
}
