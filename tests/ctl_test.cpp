// vantorq-ctl as a script runs it, against the simulated device: each
// command's bytes on the line and what it prints, each exit status, a
// setup carried from one unit to another, and the setup file's rules.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Commands.h"
#include "Presets.h"
#include "SerialChannel.h"
#include "SetupFile.h"
#include "Support.h"

namespace vantorq {
namespace {

namespace fs = std::filesystem;

template <std::size_t N>
std::string Bytes(const protocol::CommandBytes<N>& c) {
  return {c.begin(), c.end()};
}

class Ctl : public ::testing::Test {
 protected:
  void Start(sim::SimOptions options = {.com = 5}) {
    m_device = std::make_unique<test::CSimulatedDevice>(options);
    ASSERT_TRUE(m_device->Started()) << m_device->Error();
    m_sim = &**m_device;
  }
  test::Ran Run(const std::string& args) { return test::RunShell(std::string(VANTORQ_CTL) + " " + args); }
  // What the device's port received since the last call.
  std::string Received(unsigned com = 5) {
    const auto all = m_sim->Received(com);
    std::string fresh(all.begin() + static_cast<long>(m_seen), all.end());
    m_seen = all.size();
    return fresh;
  }
  static std::string Line(const std::string& path) { return "--port " + path; }

  test::CWorkFolder m_work;
  std::unique_ptr<test::CSimulatedDevice> m_device;
  sim::CSimulator* m_sim = nullptr;
  std::size_t m_seen = 0;
};

TEST_F(Ctl, EveryCommandSendsThePagesBytesAndPrintsItsResult) {
  Start();
  EdidBuffer mine{};
  for (std::size_t i = 0; i < mine.size(); ++i) mine[i] = static_cast<std::uint8_t>(i);
  std::copy(kEdidHeader.begin(), kEdidHeader.end(), mine.begin());
  ASSERT_TRUE(test::WriteFile("mine.bin", Bytes(mine)));
  const std::string probe = Bytes(protocol::ProbeCommand());
  const struct {
    std::string args;
    std::string out;
    std::string bytes;  // what the device received, byte for byte
  } cases[] = {
      {"find", "COM5\n", probe},
      {"--port COM5 status", "preset 7 4K60Hz_3D_8CH\nscaler 0 BYPASS\nenhancement 0 Off\n", probe},
      {"--port COM5 set preset 3", "preset 3 4K30Hz_3D_2CH\n", Bytes(protocol::PresetCommand(3)) + probe},
      {"--port COM5 set scaler 2", "scaler 2 2K->4K\n", Bytes(protocol::ScalerCommand(2)) + probe},
      {"--port COM5 set enhancement 3", "enhancement 3 Strong\n", Bytes(protocol::EnhancementCommand(3)) + probe},
      {"--port COM5 read-edid output -o out.bin", "", Bytes(protocol::OutputEdidReadCommand())},
      {"--port COM5 write-user-edid mine.bin",
       "user EDID written: 790 bytes sent whole; choose preset 15 (User_EDID) to use it\n",
       Bytes(protocol::UserEdidWriteCommand(mine))},
      {"--port " + m_sim->PortDir() + "/COM5 read-edid input 15", Bytes(mine),
       Bytes(protocol::InputEdidReadCommand(15))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, c.out);
    EXPECT_EQ(ran.err, "");
    EXPECT_EQ(Received(), c.bytes);
  }
  std::string out;
  ASSERT_TRUE(test::ReadFile("out.bin", out));
  m_sim->WithDevice([&](sim::CDevice& d) {
    EXPECT_EQ(out, Bytes(d.OutputEdid()));
    EXPECT_EQ(std::tuple(d.Preset(), d.Scaler(), d.Enhancement()), std::tuple(3, 3, 3));
  });
}

TEST_F(Ctl, EachFailureHasItsExitStatusAndItsReason) {
  Start({.com = 5, .silent = {6}});
  ASSERT_TRUE(test::WriteFile("bad.txt", "vantorq-setup 1\npreset 7 4K60Hz_3D_8CH\ncolour 3\n"));
  ASSERT_TRUE(test::WriteFile("words.bin", "hello, world\n"));
  const struct {
    const char* name;
    std::function<void(sim::CDevice&)> fault;
    std::string args;
    int status;
    std::string err;  // the start of what standard error says
  } cases[] = {
      {"a unit that does not confirm", [](sim::CDevice& d) { d.IgnoreSettings(true); }, "--port COM5 set preset 3", 1,
       "vantorq-ctl: preset 3 4K30Hz_3D_2CH: not confirmed: the device reports preset 7 4K60Hz_3D_8CH\n"},
      {"a garbled reply", [](sim::CDevice& d) { d.GarbleReplies(true); }, "--port COM5 read-edid output -o x.bin", 1,
       "vantorq-ctl: read-edid: The EDID reply was garbled on the line: byte 131 of 256 was split by a stray "
       "character. Nothing was written.\n"},
      {"no answer", {}, "--timeout 0.1 --port COM6 status", 1, "vantorq-ctl: status: no answer within 100 ms\n"},
      {"a missing port", {}, "--port COM9 status", 2, "vantorq-ctl: cannot open COM9 ("},
      {"a wrong setting", {}, "set preset 16", 2, "vantorq-ctl: preset takes a number from 0 to 15, not '16'\nusage:"},
      {"an unknown command", {}, "reboot", 2, "vantorq-ctl: unknown command 'reboot'\nusage:"},
      {"a setup file with an unknown key", {}, "--port COM5 apply-setup bad.txt", 2,
       "vantorq-ctl: bad.txt: line 3: unknown key 'colour'\n"},
      {"a file that is no EDID", {}, "--port COM5 write-user-edid words.bin", 2, "vantorq-ctl: words.bin: no EDID in it\n"},
      {"a file that is not there", {}, "--port COM5 apply-setup none.txt", 2,
       "vantorq-ctl: none.txt: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fault) m_sim->WithDevice(c.fault);
    Received();
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(ran.err.rfind(c.err, 0), 0u) << ran.err;
    EXPECT_FALSE(fs::exists("x.bin")) << "nothing is written from a garbled reply";
    m_sim->WithDevice([](sim::CDevice& d) {
      d.IgnoreSettings(false);
      d.GarbleReplies(false);
    });
  }
  // No device anywhere: said, with what the console says beneath its message.
  const std::string empty = m_work.Path() + "/no-ports";
  fs::create_directory(empty);
  const test::Ran none = test::RunShell("VANTORQ_PORT_DIR=" + empty + " " + VANTORQ_CTL + " find");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "vantorq-ctl: no device answered on COM1 to COM99\nNo serial port could be opened on COM1 to "
                      "COM99 \u2014 is the adapter plugged in?\n");
  // Held by another program (here: this one, as a console would hold it).
  {
    struct : CSerialOwner {
      void OnSerialNotify(unsigned, std::uintptr_t, std::intptr_t) override {}
    } owner;
    CSerialChannel holder;
    ASSERT_EQ(holder.Open(&owner, 5, 57600, 'N', 8, 1, 3, 1024), 1);
    const test::Ran ran = Run("--port COM5 status");
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find("in use by another program (PID " + std::to_string(::getpid())), std::string::npos) << ran.err;
    EXPECT_EQ(Received(), "") << "a held line is never written to";
  }
}

TEST_F(Ctl, ASetupSavedFromOneUnitMakesAnotherTheSame) {
  Start();
  sim::CSimulator other({.com = 5, .fast = true});
  std::string error;
  ASSERT_TRUE(other.StartThread(error)) << error;
  const std::string first = Line(m_sim->PortDir() + "/COM5");
  const std::string second = Line(other.PortDir() + "/COM5");
  EdidBuffer mine{};
  std::copy(kEdidHeader.begin(), kEdidHeader.end(), mine.begin());
  mine[20] = 0x80;
  ASSERT_TRUE(test::WriteFile("mine.bin", Bytes(mine)));
  for (const std::string args : {" write-user-edid mine.bin", " set enhancement 2", " set scaler 3", " set preset 11"}) {
    ASSERT_EQ(Run(first + args).status, 0) << args;
  }
  const test::Ran saved = Run(first + " save-setup unit.txt");
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_EQ(saved.out, "saved unit.txt: preset 11 4K30Hz_3D_6CH_HDR, scaler 3 HDBT C mode, enhancement 2 Medium, user EDID\n");
  m_sim->WithDevice([](sim::CDevice& d) { EXPECT_EQ(d.Preset(), 11) << "the preset it had is set again"; });
  const test::Ran applied = Run(second + " apply-setup unit.txt");
  EXPECT_EQ(applied.status, 0) << applied.err;
  sim::Edid a{}, b{};
  std::tuple<int, int, int> stateA, stateB;
  m_sim->WithDevice([&](sim::CDevice& d) { a = d.EdidOf(15); stateA = {d.Preset(), d.Scaler(), d.Enhancement()}; });
  other.WithDevice([&](sim::CDevice& d) { b = d.EdidOf(15); stateB = {d.Preset(), d.Scaler(), d.Enhancement()}; });
  EXPECT_EQ(a, mine);
  EXPECT_EQ(b, a);
  EXPECT_EQ(stateB, stateA);
}

TEST(SetupFile, WhatIsWrittenReadsBackAndEveryMistakeIsNamedByItsLine) {
  vantorq::Setup setup{11, 3, 2, {}};
  for (std::size_t i = 0; i < setup.userEdid.size(); ++i) setup.userEdid[i] = static_cast<std::uint8_t>(255 - i);
  const std::string text = FormatSetup(setup);
  const SetupParse back = ParseSetup(text);
  ASSERT_TRUE(back.ok) << back.error;
  EXPECT_EQ(back.setup, setup);
  auto with = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const std::string edid = text.substr(text.find("user-edid"));
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "not a Vantorq setup: no 'vantorq-setup 1' line"},
      {"preset 1 1080P_2CH\n", "line 1: not a Vantorq setup: it begins with 'preset 1 1080P_2CH'"},
      {with("vantorq-setup 1", "vantorq-setup 2"), "line 3: format 2 is not the one this program reads (1)"},
      {with("scaler 3 HDBT C mode", "scaler 4 HDBT C mode"), "line 5: scaler '4' is not a number from 0 to 3"},
      {with("preset 11 4K30Hz_3D_6CH_HDR", "preset 11 4K30Hz_3D_6CH"),
       "line 4: preset 11 is \"4K30Hz_3D_6CH_HDR\", not \"4K30Hz_3D_6CH\""},
      {with("enhancement 2 Medium", "enhancement 2 Medium\nenhancement 2 Medium"), "line 7: enhancement given twice"},
      {with("enhancement 2 Medium", "enhance 2 Medium"), "line 6: unknown key 'enhance'"},
      {with("enhancement 2 Medium\n", ""), "enhancement is missing"},
      {text.substr(0, text.find("user-edid")), "user-edid is missing"},
      {text.substr(0, text.size() - 4) + "\n", "line 23: user-edid holds 255 bytes, not 256"},
      {with("  ff fe", "  ff fg"), "line 8: user-edid: not 256 hex pairs: 'ff fg fd"},
  };
  for (const auto& c : cases) {
    const SetupParse parse = ParseSetup(c.text);
    EXPECT_FALSE(parse.ok) << c.error;
    EXPECT_EQ(parse.error.rfind(c.error, 0), 0u) << parse.error;
  }
  EXPECT_TRUE(ParseSetup("# a comment\n\n" + with("\n", "\r\n")).ok) << "comments, blank lines and CR LF are fine";
}

}  // namespace
}  // namespace vantorq
