// The vantorq-edid command, run as a user runs it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "EdidBuilder.h"
#include "EdidSummary.h"

namespace vantorq::test {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class EdidTool : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() / ("vantorq-edid-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  Result Run(const std::string& args) {
    const auto out = m_dir / "stdout";
    const auto err = m_dir / "stderr";
    const std::string command = std::string(VANTORQ_EDID_TOOL) + " " + args + " >" + out.string() + " 2>" + err.string();
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  }

  std::filesystem::path m_dir;
};

std::string Sample() {
  EdidBuilder e;
  e.At(8, {0x04, 0x43}).Timing(54, 14850, 1920, 280, 1080, 45).Cea(6).At(132, {0x41, 0x90});
  return {e.bytes.begin(), e.bytes.end()};
}

TEST_F(EdidTool, WritesTheThreeSectionsExactly) {
  const std::string file = Write("a.bin", Sample());
  EdidReport report;
  std::array<std::uint8_t, 256> edid{};
  const std::string bytes = Sample();
  std::copy(bytes.begin(), bytes.end(), edid.begin());
  const std::string summary = DecodeAndSummarise(report, edid);

  Result r = Run(file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, report.m_strVideo + report.m_strAudio + report.m_strGeneral);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Run("--section video " + file).out, report.m_strVideo);
  EXPECT_EQ(Run("--section audio " + file).out, report.m_strAudio);
  EXPECT_EQ(Run("--section=general " + file).out, report.m_strGeneral);
  EXPECT_EQ(Run("--summary " + file).out, summary);
}

TEST_F(EdidTool, ShortFilesAreCompletedWithFf) {
  const std::string sample = Sample();
  const std::string file = Write("short.bin", sample.substr(0, 128));
  std::array<std::uint8_t, 256> edid;
  edid.fill(0xFF);
  std::copy(sample.begin(), sample.begin() + 128, edid.begin());
  EdidReport report;
  DecodeAndSummarise(report, edid);
  EXPECT_EQ(Run("--section video " + file).out, report.m_strVideo);
}

TEST_F(EdidTool, SeveralFilesAreHeadedAndAnUnreadableOneIsReportedButSkipped) {
  const std::string a = Write("a.bin", Sample());
  const std::string b = Write("b.bin", std::string(256, '\0'));
  const std::string missing = (m_dir / "missing.bin").string();
  const Result one = Run("--summary " + a);
  const Result two = Run("--summary " + b);
  const Result r = Run("--summary " + a + " " + missing + " " + b);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "==> " + a + " <==\n" + one.out + "\n==> " + b + " <==\n" + two.out);
  EXPECT_EQ(r.err, "vantorq-edid: " + missing + ": No such file or directory\n");
  const Result dir = Run(m_dir.string());
  EXPECT_EQ(dir.status, 2);
  EXPECT_NE(dir.err.find("Is a directory"), std::string::npos) << dir.err;
}

TEST_F(EdidTool, HelpAndWrongUse) {
  const Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: vantorq-edid", 0), 0u);
  for (const char* args : {"", "--frobnicate x.bin", "--section", "--section colour x.bin"}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("usage: vantorq-edid"), std::string::npos) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

}  // namespace
}  // namespace vantorq::test
