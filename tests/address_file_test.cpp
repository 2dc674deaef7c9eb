#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#include "AddressFile.h"

namespace vantorq {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class AddressFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vantorq-addr-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
    m_path = (m_dir / "KVAddrMg.ini").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_dir, ec);
  }
  AddressTable Read() {
    AddressTable table;
    messages.clear();
    ReadAddressFile(m_path, table, [&](std::string_view m) { messages.emplace_back(m); });
    return table;
  }
  void Write(const std::string& text) { std::ofstream(m_path, std::ios::binary) << text; }

  fs::path m_dir;
  std::string m_path;
  std::vector<std::string> messages;
};

TEST_F(AddressFileTest, AMissingFileIsCreatedWithThe290DefaultCharacters) {
  const AddressTable t = Read();
  EXPECT_TRUE(messages.empty());
  const std::string text = Slurp(m_path);
  ASSERT_EQ(text.size(), 290u);
  std::string expected;
  for (int i = 0; i < 32; ++i) expected += "0000 ";
  expected += "\r\n";
  for (int i = 0; i < 32; ++i) expected += "* \r\n";
  EXPECT_EQ(text, expected);
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(t.address[i], 0);
    EXPECT_EQ(t.Description(i), " ") << i;
  }
  // A second start reads the same file again and leaves it as it is.
  Read();
  EXPECT_EQ(Slurp(m_path), expected);
}

TEST_F(AddressFileTest, NumbersAndDescriptionsAreReadByTheirRules) {
  const struct {
    const char* name;
    std::string text;
    int unit;
    std::uint16_t address;
    const char* description;
  } cases[] = {
      {"hex", "12ab\r\n*First\r\n", 0, 0x12AB, "First"},
      {"upper and prefix", "0 0x1F 0X2e ABCD\r\n", 3, 0xABCD, "          "},
      {"prefix", "0 0x1F\r\n", 1, 0x1F, "          "},
      {"wider than 16 bits", "123456\r\n", 0, 0x3456, "          "},
      {"fourteen characters", "1\r\n*ABCDEFGHIJKLMN\r\n*second\r\n", 0, 1, "ABCDEFGHIJ"},
      {"the rest is passed over", "1\r\n*ABCDEFGHIJKLMN\r\n*second\r\n", 1, 0, "second"},
      {"asterisk then line end", "1\r\n*\r\n*x\r\n", 0, 1, ""},
      {"LF alone ends it too", "1\n*ab\n*cd\n", 1, 0, "cd"},
      {"text before the asterisk", "1\r\nunit one *Lobby\r\n", 0, 1, "Lobby"},
      {"a bad number stops the numbers", "5 zz 7\r\n*a\r\n", 1, 0, "          "},
      {"no asterisk in 50 characters", "1\r\n" + std::string(60, '-') + "*x\r\n", 0, 1, "----------"},
  };
  for (const auto& c : cases) {
    Write(c.text);
    const AddressTable t = Read();
    EXPECT_TRUE(messages.empty()) << c.name;
    EXPECT_EQ(t.address[static_cast<std::size_t>(c.unit)], c.address) << c.name;
    EXPECT_EQ(t.Description(c.unit), c.description) << c.name;
  }
}

TEST_F(AddressFileTest, AFileCutShortLeavesTheRestAtTheirInitialValues) {
  Write("1 2 3\r\n*a\r\n*b");
  const AddressTable t = Read();
  EXPECT_EQ(t.address[2], 3);
  EXPECT_EQ(t.address[3], 0);
  EXPECT_EQ(t.Description(0), "a");
  EXPECT_EQ(t.Description(1), "b");
  for (int i = 2; i < 32; ++i) EXPECT_EQ(t.Description(i), "          ") << i;
  Write("");
  const AddressTable empty = Read();
  EXPECT_EQ(empty.Description(0), "          ");
}

TEST_F(AddressFileTest, AReadOnlyFileIsUnreadable) {
  Write("12ab\r\n*x\r\n");
  ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
  const AddressTable t = Read();
  EXPECT_EQ(messages, std::vector<std::string>{"File read failed"});
  EXPECT_EQ(t.address[0], 0);
  EXPECT_EQ(t.Description(0), "          ");
}

TEST_F(AddressFileTest, AFileThatCannotBeCreatedIsSaidThreeTimes) {
  m_path = (m_dir / "no-such-folder" / "KVAddrMg.ini").string();
  const AddressTable t = Read();
  EXPECT_EQ(messages, (std::vector<std::string>{"There is no KVAddrMg.ini and faild to create new empty ini file !",
                                                "failed", "File read failed"}));
  EXPECT_EQ(t.Description(31), "          ");
}

// In a child: a full disk is a file size limit there, and a read that
// blocks on a FIFO must fail the test instead of hanging it.
TEST_F(AddressFileTest, AFullDiskOrAFifoNeverLeavesTheConsoleWithABadFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<std::string> creationFailed{
      "There is no KVAddrMg.ini and faild to create new empty ini file !", "failed", "File read failed"};
  auto fullDisk = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Read();
    // Not a cut-short file that every later start would read as the table.
    return messages == creationFailed && !fs::exists(m_path);
  };
  EXPECT_EXIT(std::_Exit(fullDisk() ? 0 : 3), ::testing::ExitedWithCode(0), "");
  ASSERT_EQ(::mkfifo(m_path.c_str(), 0600), 0);
  auto fifo = [&] {
    ::alarm(5);
    Read();
    return messages == std::vector<std::string>{"File read failed"};
  };
  EXPECT_EXIT(std::_Exit(fifo() ? 0 : 3), ::testing::ExitedWithCode(0), "");
}

TEST_F(AddressFileTest, ALinkIsReadWhenItLeadsToAFileAndNeverCreatesOrOpensAnythingElse) {
  // A pseudo-terminal stands for any device: whether the console opened it
  // shows as an inotify open event on its node.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string device = ::ptsname(master);
  fs::create_directory(m_dir / "elsewhere");
  std::ofstream(m_dir / "elsewhere" / "real.ini") << "12ab\r\n*shared\r\n";
  const struct {
    const char* name;
    fs::path target;
    std::vector<std::string> messages;
    const char* firstDescription;
  } cases[] = {
      {"a link to a file", m_dir / "elsewhere" / "real.ini", {}, "shared"},
      {"a link to nowhere", m_dir / "elsewhere" / "planted.ini", {"File read failed"}, "          "},
      {"a link to a device", device, {"File read failed"}, "          "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(m_path);
    fs::create_symlink(c.target, m_path);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, device.c_str(), IN_OPEN), 0);
    const AddressTable t = Read();
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(t.Description(0), c.firstDescription);
    std::array<char, 256> event{};
    EXPECT_LT(::read(watch, event.data(), event.size()), 0) << "the device was opened";
    ::close(watch);
  }
  EXPECT_FALSE(fs::exists(m_dir / "elsewhere" / "planted.ini")) << "created through the link";
  ::close(master);
}

TEST(AddressFileParse, RandomFilesNeverOverrunTheTable) {
  std::mt19937 random(3303);
  const std::string alphabet = "0123456789abcdefABCDEFxX* \r\n\t-+zq";
  for (int round = 0; round < 5000; ++round) {
    std::string text(random() % 600, ' ');
    for (auto& c : text) c = round % 3 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    AddressTable t;
    ParseAddressFile(text, t);
    for (int i = 0; i < 32; ++i) {
      ASSERT_LE(t.Description(i).size(), 10u);
      ASSERT_EQ(t.description[static_cast<std::size_t>(i)][10], '\0');
    }
  }
}

}  // namespace
}  // namespace vantorq
