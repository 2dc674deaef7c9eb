// The simulated device: what it answers, what it refuses, and whether its
// EDIDs say what their preset names promise.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <string>

#include "Commands.h"
#include "Device.h"
#include "EdidFactory.h"
#include "Presets.h"
#include "Simulator.h"

namespace vantorq::sim {
namespace {

std::vector<std::string> Say(CDevice& device, std::string_view text) {
  return device.Receive({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

template <std::size_t N>
std::vector<std::string> Say(CDevice& device, const protocol::CommandBytes<N>& command) {
  return device.Receive(command);
}

// The 256 bytes of a read reply, parsed the way the console reads them.
Edid ParseReply(const std::string& line) {
  Edid edid{};
  std::size_t pos = line.find("DATA ") + 5;
  for (auto& byte : edid) {
    pos = line.find_first_of("0123456789abcdef", pos);
    byte = static_cast<std::uint8_t>(std::stoi(line.substr(pos, 2), nullptr, 16));
    pos += 2;
  }
  return edid;
}

TEST(SimDevice, StatusLinesNeverStartWithTheirTag) {
  CDevice device;
  const auto lines = Say(device, protocol::ProbeCommand());
  ASSERT_EQ(lines, (std::vector<std::string>{"IN1 EDID 07\r\n", "OUT1 VIDEO 1\r\n", "OUT1 IMAGE ENH 0\r\n"}));
}

TEST(SimDevice, SettingsAreAppliedAndReported) {
  CDevice device;
  EXPECT_EQ(Say(device, protocol::EnhancementCommand(2)), std::vector<std::string>{"OUT1 IMAGE ENH 2\r\n"});
  EXPECT_EQ(Say(device, protocol::ScalerCommand(3)), std::vector<std::string>{"OUT1 VIDEO 4\r\n"});
  EXPECT_EQ(Say(device, protocol::PresetCommand(13)), std::vector<std::string>{"IN1 EDID 13\r\n"});
  EXPECT_EQ(device.Enhancement(), 2);
  EXPECT_EQ(device.Scaler(), 4);
  EXPECT_EQ(device.Preset(), 13);
  EXPECT_EQ(Say(device, protocol::ProbeCommand()),
            (std::vector<std::string>{"IN1 EDID 13\r\n", "OUT1 VIDEO 4\r\n", "OUT1 IMAGE ENH 2\r\n"}));
  // Byte by byte works as well as all at once.
  std::vector<std::string> lines;
  for (char c : std::string_view("\r\nSET IN1 EDID 03\r\n")) {
    for (auto& l : Say(device, std::string_view(&c, 1))) lines.push_back(l);
  }
  EXPECT_EQ(lines, std::vector<std::string>{"IN1 EDID 03\r\n"});
}

TEST(SimDevice, ReadRepliesCarryTheEdidAsLowerCaseHex) {
  CDevice device;
  const auto out = Say(device, protocol::OutputEdidReadCommand());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rfind("OUT1 EDID DATA ", 0), 0u);
  EXPECT_EQ(out[0].size(), std::string("OUT1 EDID DATA").size() + 256 * 3 + 2);
  EXPECT_EQ(out[0].find_first_of("ABCDEF", std::string("OUT1 EDID DATA ").size()), std::string::npos);
  EXPECT_EQ(ParseReply(out[0]), device.OutputEdid());
  const auto in = Say(device, protocol::InputEdidReadCommand(4));
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(in[0].rfind("IN1 EDID 04 DATA ", 0), 0u);
  EXPECT_EQ(ParseReply(in[0]), device.EdidOf(4));
  const std::string hex = in[0].substr(std::string("IN1 EDID 04 DATA ").size());
  EXPECT_EQ(hex.find_first_of("ABCDEF"), std::string::npos);
}

TEST(SimDevice, TheUserEdidWriteIsStoredAsPreset15) {
  CDevice device;
  Edid edid{};
  std::iota(edid.begin(), edid.end(), 0);
  EXPECT_TRUE(Say(device, protocol::UserEdidWriteCommand(edid)).empty());
  EXPECT_EQ(device.EdidOf(15), edid);
  const auto reply = Say(device, protocol::InputEdidReadCommand(15));
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(ParseReply(reply[0]), edid);
}

TEST(SimDevice, BadInputIsRefusedWithALogLineAndChangesNothing) {
  std::vector<std::string> log;
  CDevice device([&](const std::string& l) { log.push_back(l); });
  const Edid before = device.EdidOf(15);
  std::array<std::uint8_t, 256> edid{};
  std::string good(reinterpret_cast<const char*>(protocol::UserEdidWriteCommand(edid).data()), 790);
  const std::string bad[] = {
      "SET IN1 EDID U1 DATA 00 11\r\n",             // short
      good.substr(0, 100) + "G" + good.substr(101),  // not hex
      good.substr(0, 788) + " 00\r\n",               // one byte too many
      "SET IN1 EDID 16\r\n", "SET IN1 EDID 7\r\n", "SET OUT1 VIDEO5\r\n", "SET OUT1 IMAGE ENH 4\r\n",
      "GET IN1 EDID 99 DATA\r\n", "HELLO\r\n", std::string(5000, 'x') + "\r\n",
      std::string("\x00\xff\x80\r\n", 5),
  };
  for (const auto& text : bad) {
    log.clear();
    EXPECT_TRUE(Say(device, text).empty()) << text.substr(0, 40);
    EXPECT_FALSE(log.empty());
    EXPECT_NE(log.back().find("refused"), std::string::npos) << log.back();
  }
  EXPECT_EQ(device.EdidOf(15), before);
  EXPECT_EQ(device.Preset(), 7);
  EXPECT_EQ(device.Scaler(), 1);
  EXPECT_EQ(device.Enhancement(), 0);
}

// Where the CEA data block with `tag` starts, or 0 if there is none.
std::size_t FindBlock(const Edid& e, int tag, int extended = -1) {
  const std::size_t end = 128 + e[130];
  for (std::size_t at = 132; at < end; at += 1 + (e[at] & 0x1F)) {
    if ((e[at] >> 5) == tag && (extended < 0 || e[at + 1] == extended)) return at;
  }
  return 0;
}

TEST(SimEdids, EveryPresetMatchesItsName) {
  for (int preset = 1; preset < protocol::kPresetCount - 1; ++preset) {
    const auto name = protocol::kPresetNames[static_cast<std::size_t>(preset)];
    const Edid e = PresetEdid(preset);
    SCOPED_TRACE(std::string(name));
    EXPECT_EQ(std::accumulate(e.begin(), e.begin() + 128, 0) % 256, 0);
    EXPECT_EQ(std::accumulate(e.begin() + 128, e.end(), 0) % 256, 0);
    EXPECT_EQ(e[126], 1);
    EXPECT_EQ(e[128], 0x02);
    const int clock = e[54] | (e[55] << 8);
    const int width = e[56] | ((e[58] & 0xF0) << 4);
    const int height = e[59] | ((e[61] & 0xF0) << 4);
    if (name.find("4K60") != std::string_view::npos) {
      EXPECT_EQ(clock, 59400);
    } else if (name.find("4K30") != std::string_view::npos) {
      EXPECT_EQ(clock, 29700);
    } else {
      EXPECT_EQ(clock, 14850);
    }
    EXPECT_EQ(width, name[0] == '4' ? 3840 : 1920);
    EXPECT_EQ(height, name[0] == '4' ? 2160 : 1080);

    const std::size_t audio = FindBlock(e, 1);
    ASSERT_NE(audio, 0u);
    EXPECT_EQ((e[audio + 1] >> 3) & 0x0F, 1) << "LPCM";
    const int channels = (e[audio + 1] & 7) + 1;
    EXPECT_EQ(channels, name.find("8CH") != std::string_view::npos   ? 8
                        : name.find("6CH") != std::string_view::npos ? 6
                                                                     : 2);
    const std::size_t vsdb = FindBlock(e, 3);
    ASSERT_NE(vsdb, 0u);
    EXPECT_EQ(e[vsdb + 1], 0x03);
    EXPECT_EQ(e[vsdb + 8] & 0x20, 0x20) << "HDMI video present";
    EXPECT_EQ((e[vsdb + 9] & 0x80) != 0, name.find("_3D") != std::string_view::npos);
    EXPECT_EQ(FindBlock(e, 7, 6) != 0, name.find("_HDR") != std::string_view::npos);

    const std::size_t video = FindBlock(e, 2);
    ASSERT_NE(video, 0u);
    std::vector<int> codes;
    for (std::size_t i = 1; i <= (e[video] & 0x1Fu); ++i) codes.push_back(e[video + i] & 0x7F);
    const bool has4k60 = std::find(codes.begin(), codes.end(), 97) != codes.end();
    const bool has4k30 = std::find(codes.begin(), codes.end(), 95) != codes.end();
    EXPECT_EQ(has4k60, name.find("4K60") != std::string_view::npos);
    EXPECT_EQ(has4k30, name[0] == '4');
  }
}

}  // namespace
}  // namespace vantorq::sim

namespace vantorq::sim {
namespace {

// What COMn of a running simulator answers to one command, read until the
// line has been quiet for a while.
std::string Ask(const std::string& link, std::string_view command) {
  const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return "(cannot open)";
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  [[maybe_unused]] auto n = ::write(fd, command.data(), command.size());
  std::string got;
  for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, got.empty() ? 2000 : 100) == 1;) {
    char buf[256];
    const auto r = ::read(fd, buf, sizeof buf);
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  ::close(fd);
  return got;
}

TEST(Simulator, APacedLineCutOnceIsWholeAgainAfterTheReplug) {
  CSimulator simulator({.com = 2, .hangUpAfter = 4});
  std::string error;
  ASSERT_TRUE(simulator.StartThread(error)) << error;
  const std::string link = simulator.PortDir() + "/COM2";
  // Cut after 4 bytes; the hang-up may take them with it before they are read.
  const std::string cut = Ask(link, "\r\nGET STA\r\n");
  EXPECT_EQ(std::string("IN1 ").substr(0, cut.size()), cut);
  for (int i = 0; i < 100 && ::access(link.c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(Ask(link, "\r\nGET STA\r\n"), "IN1 EDID 07\r\nOUT1 VIDEO 1\r\nOUT1 IMAGE ENH 0\r\n");
}

TEST(Simulator, AFolderOfSomeoneElsesPortsIsLeftAsItWas) {
  char templ[] = "/tmp/vantorq-theirs-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string dir = templ;
  // Their COM5 leads to their adapter; their COM6 is a file of theirs.
  ASSERT_EQ(::symlink("/dev/ttyUSB7", (dir + "/COM5").c_str()), 0);
  const int file = ::open((dir + "/COM6").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::write(file, "mine", 4), 4);
  ::close(file);
  for (unsigned com : {5u, 6u}) {
    SCOPED_TRACE(com);
    {
      CSimulator simulator({.portDir = dir, .com = com == 5 ? 5u : 4u, .silent = {6}});
      std::string error;
      EXPECT_FALSE(simulator.Start(error));
      EXPECT_EQ(error, dir + "/COM" + std::to_string(com) +
                           " exists and is not one of the simulator's links: it was left as it is; choose an empty "
                           "folder");
    }
    char target[64] = {};
    EXPECT_EQ(::readlink((dir + "/COM5").c_str(), target, sizeof target - 1), 12);
    EXPECT_STREQ(target, "/dev/ttyUSB7");
    EXPECT_EQ(::access((dir + "/COM6").c_str(), F_OK), 0);
    EXPECT_NE(::access((dir + "/COM4").c_str(), F_OK), 0) << "what it made is gone with it";
  }
  for (const char* name : {"/COM5", "/COM6"}) ::unlink((dir + name).c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace vantorq::sim
