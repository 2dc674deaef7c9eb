// vantorq-ctl as a script runs it, against the simulated device: each
// command's bytes on the line and what it prints, each exit status, a
// setup carried from one unit to another, the setup file's rules, and the
// program under hostile use. Its commands are also driven in-process on a
// line double, where a write can be made to fail at an exact byte.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>

#include <rapidjson/document.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "Commands.h"
#include "CtlCommands.h"
#include "CtlSession.h"
#include "LineDouble.h"
#include "Presets.h"
#include "SerialChannel.h"
#include "SetupFile.h"
#include "Support.h"

namespace vantorq {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

template <std::size_t N>
std::string Bytes(const protocol::CommandBytes<N>& c) {
  return {c.begin(), c.end()};
}

std::string Bytes(const EdidBuffer& e) { return {e.begin(), e.end()}; }

// An EDID whose bytes differ from the simulator's own: byte 131 is 7f.
EdidBuffer Mine() {
  EdidBuffer mine{};
  for (std::size_t i = 0; i < mine.size(); ++i) mine[i] = static_cast<std::uint8_t>(i);
  std::copy(kEdidHeader.begin(), kEdidHeader.end(), mine.begin());
  mine[131] = 0x7F;
  return mine;
}

// Whether process `pid` handles `sig` itself by now.
bool Catches(pid_t pid, int sig) {
  std::string status;
  if (!test::ReadFile("/proc/" + std::to_string(pid) + "/status", status)) return false;
  const auto at = status.find("SigCgt:");
  if (at == std::string::npos) return false;
  const unsigned long long mask = std::stoull(status.substr(at + 7), nullptr, 16);
  return ((mask >> (sig - 1)) & 1) != 0;
}

// A port held open as a console would hold it.
struct HeldPort : CSerialOwner {
  void OnSerialNotify(unsigned, std::uintptr_t, std::intptr_t) override {}
  bool Hold(unsigned com) { return channel.Open(this, com, 57600, 'N', 8, 1, 3, 1024) == 1; }
  CSerialChannel channel;
};

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
    std::string fresh(all.begin() + static_cast<long>(m_seen[com]), all.end());
    m_seen[com] = all.size();
    return fresh;
  }
  static std::string Line(const std::string& path) { return "--port " + path; }
  void EveryCommand(const std::string& p, bool paths);

  test::CWorkFolder m_work;
  std::unique_ptr<test::CSimulatedDevice> m_device;
  sim::CSimulator* m_sim = nullptr;
  std::map<unsigned, std::size_t> m_seen;
};

// The device's answers come within the default 0.5 s; a loaded test
// machine gets more, so that only a fault fails.
constexpr const char* kPort5 = "--timeout 5 --port COM5";

// Every command on the line `p` ("--port ..."), the device's port
// folder's own paths too when `paths`.
void Ctl::EveryCommand(const std::string& p, bool paths) {
  const EdidBuffer mine = Mine();
  ASSERT_TRUE(test::WriteFile("mine.bin", Bytes(mine)));
  const std::string probe = Bytes(protocol::ProbeCommand());
  struct Case {
    std::string args;
    std::string out;
    std::string bytes;  // what the device received, byte for byte
  };
  std::vector<Case> cases = {
      {p + " find", p.substr(p.rfind(' ') + 1) + "\n", probe},
      {p + " status", "preset 7 4K60Hz_3D_8CH\nscaler 0 BYPASS\nenhancement 0 Off\n", probe},
      {p + " set preset 3", "preset 3 4K30Hz_3D_2CH\n", Bytes(protocol::PresetCommand(3)) + probe},
      {p + " set scaler 2", "scaler 2 2K->4K\n", Bytes(protocol::ScalerCommand(2)) + probe},
      {p + " set enhancement 3", "enhancement 3 Strong\n", Bytes(protocol::EnhancementCommand(3)) + probe},
      {p + " read-edid output -o out.bin", "", Bytes(protocol::OutputEdidReadCommand())},
      {p + " write-user-edid mine.bin",
       "user EDID written: 790 bytes sent whole; choose preset 15 (User_EDID) to use it\n"
       "Verified: the unit holds the 256 bytes written.\n",
       Bytes(protocol::UserEdidWriteCommand(mine)) + Bytes(protocol::InputEdidReadCommand(15))},
      {p + " --no-verify write-user-edid mine.bin",
       "user EDID written: 790 bytes sent whole; choose preset 15 (User_EDID) to use it\n"
       "Not verified: --no-verify was given.\n",
       Bytes(protocol::UserEdidWriteCommand(mine))},
  };
  if (paths) {
    cases.push_back({"find", "COM5\n", probe});
    cases.push_back({"--timeout 5 --port " + m_sim->PortDir() + "/COM5 read-edid input 15", Bytes(mine),
                     Bytes(protocol::InputEdidReadCommand(15))});
    cases.push_back({"--timeout 5 --port=" + m_sim->PortDir() + "/COM5 find", m_sim->PortDir() + "/COM5\n", probe});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, c.out);
    EXPECT_EQ(ran.err, "");
    // A gateway may still be passing on a command that needs no answer
    // (--no-verify) when vantorq-ctl has ended.
    std::string received = Received();
    test::WaitUntil([&] { return (received += Received()).size() >= c.bytes.size(); }, 2000ms);
    EXPECT_EQ(received, c.bytes);
  }
  std::string out;
  ASSERT_TRUE(test::ReadFile("out.bin", out));
  m_sim->WithDevice([&](sim::CDevice& d) {
    EXPECT_EQ(out, Bytes(d.OutputEdid()));
    EXPECT_EQ(std::tuple(d.Preset(), d.Scaler(), d.Enhancement()), std::tuple(3, 3, 3));
  });
}

TEST_F(Ctl, EveryCommandSendsThePagesBytesAndPrintsItsResult) {
  Start();
  EveryCommand(kPort5, true);
}

// The unit behind ser2net, as a rack's gateway serves it: Telnet with
// COM-PORT control on one TCP port, raw TCP on another. The device must
// receive every command byte for byte, as on a local line.
TEST_F(Ctl, EveryCommandThroughAGateway) {
  Start();
  const auto ports = test::FreeTcpPorts(2);
  const std::string device = m_sim->PortDir() + "/COM5";
  test::CSer2net gateway(test::Ser2netConnection("telnet", "telnet(rfc2217),tcp", ports[0], device) +
                             test::Ser2netConnection("raw", "tcp", ports[1], device),
                         ports);
  ASSERT_TRUE(gateway.Started()) << gateway.Error();
  for (const std::string& line : {"rfc2217://127.0.0.1:" + std::to_string(ports[0]),
                                  "socket://127.0.0.1:" + std::to_string(ports[1])}) {
    SCOPED_TRACE(line);
    m_sim->WithDevice([](sim::CDevice& d) { d = sim::CDevice(); });  // as it left the factory
    EveryCommand("--timeout 5 --port " + line, false);
  }
  // Under the COM name the ports file gives it.
  const test::CPortsFile config(m_work.Path(), "# hall A\nCOM40 rfc2217://127.0.0.1:" + std::to_string(ports[0]) +
                                                  "  # rack 1\n");
  ASSERT_TRUE(config.Written());
  const test::Ran named = Run("--timeout 5 --port COM40 get preset");
  EXPECT_EQ(std::tuple(named.status, named.out, named.err), std::tuple(0, "3\n", ""));
  // One console and one vantorq-ctl never share the gateway's port, by
  // either of its names.
  HeldPort console;
  ASSERT_TRUE(console.Hold(40));
  for (const std::string& line : {"rfc2217://127.0.0.1:" + std::to_string(ports[0]),
                                  "socket://127.0.0.1:" + std::to_string(ports[0]), std::string("COM40")}) {
    const test::Ran held = Run("--port " + line + " status");
    EXPECT_EQ(held.status, 3) << line;
    EXPECT_NE(held.err.find("in use by another program (PID " + std::to_string(::getpid())), std::string::npos)
        << held.err;
  }
  EXPECT_EQ(Received(), Bytes(protocol::ProbeCommand())) << "only the console's own probe reached the unit";
}

TEST_F(Ctl, EachFailureHasItsExitStatusAndItsReason) {
  Start({.com = 5, .silent = {6}});
  const std::string dir = m_sim->PortDir();
  const std::string p = kPort5;
  ASSERT_TRUE(test::WriteFile("bad.txt", "vantorq-setup 1\npreset 7 4K60Hz_3D_8CH\ncolour 3\n"));
  ASSERT_TRUE(test::WriteFile("bom.txt", "vantorq-setup 1\n\xEF\xBB\xBFpreset 7 4K60Hz_3D_8CH\n"));
  ASSERT_TRUE(test::WriteFile("long.txt", "vantorq-setup 1\n" + std::string(60000, 'x') + "\n"));
  ASSERT_TRUE(test::WriteFile("huge.txt", FormatSetup({}) + "# " + std::string(64 << 10, '#') + "\ncolour 3\n"));
  ASSERT_TRUE(test::WriteFile("words.bin", "hello, world\n"));
  const std::string edid = Bytes(Mine());
  for (std::size_t size : {127, 255, 257, 10 << 20}) {
    std::string bytes = edid + std::string(size > edid.size() ? size - edid.size() : 0, '\xFF');
    ASSERT_TRUE(test::WriteFile(std::to_string(size) + ".bin", bytes.substr(0, size)));
  }
  const struct {
    const char* name;
    std::function<void(sim::CDevice&)> fault;
    std::string args;
    int status;
    std::string err;  // the start of what standard error says
  } cases[] = {
      {"a unit that does not confirm", [](sim::CDevice& d) { d.IgnoreSettings(true); }, p + " set preset 3", 1,
       "vantorq-ctl: COM5: preset 3 4K30Hz_3D_2CH: not confirmed: the device reports preset 7 4K60Hz_3D_8CH\n"},
      {"a garbled reply", [](sim::CDevice& d) { d.GarbleReplies(true); }, p + " read-edid output -o x.bin", 1,
       "vantorq-ctl: COM5: read-edid: The EDID reply was garbled on the line: byte 131 of 256 was split by a stray "
       "character. Nothing was written.\n"},
      {"no answer", {}, "--timeout 0.1 --port COM6 status", 1, "vantorq-ctl: COM6: status: no answer within 100 ms.\n"},
      {"no answer on a path", {}, "--timeout 0.1 --port " + dir + "/COM6 status", 1,
       "vantorq-ctl: " + dir + "/COM6: status: no answer within 100 ms.\n"},
      {"no EDID reply", {}, "--timeout 0.1 --port COM6 read-edid output -o x.bin", 1,
       "vantorq-ctl: COM6: read-edid: no EDID reply within 237 ms. Nothing was written.\n"},
      {"find on a silent port", {}, "--timeout 0.1 --port COM6 find", 1,
       "vantorq-ctl: COM6: find: no answer within 100 ms.\n"},
      {"find on no serial line", {}, "--timeout 0.1 --port /dev/ptmx find", 1,
       "vantorq-ctl: /dev/ptmx: find: no answer within 100 ms.\n"},
      {"a missing port", {}, "--port COM9 status", 3, "vantorq-ctl: COM9: cannot open " + dir + "/COM9: no such device\n"},
      {"a missing path", {}, "--port /dev/null/tty status", 3, "vantorq-ctl: /dev/null/tty: cannot open: no such device\n"},
      {"a setup file with an unknown key", {}, p + " apply-setup bad.txt", 2,
       "vantorq-ctl: COM5: bad.txt: line 3: unknown key 'colour'\n"},
      {"a byte-order mark inside", {}, p + " apply-setup bom.txt", 2,
       "vantorq-ctl: COM5: bom.txt: line 2: unknown key '\\uFEFFpreset'\n"},
      {"a line of 60000 bytes", {}, p + " apply-setup long.txt", 2,
       "vantorq-ctl: COM5: long.txt: line 2: unknown key 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'... (60000 bytes)\n"},
      {"a setup file over 64 KiB", {}, p + " apply-setup huge.txt", 2,
       "vantorq-ctl: COM5: huge.txt: larger than 64 KiB: no setup file is that large; nothing was sent\n"},
      {"a file that is no EDID", {}, p + " write-user-edid words.bin", 2,
       "vantorq-ctl: COM5: words.bin: no EDID in it. Nothing was sent to the device.\n"},
      {"127 bytes", {}, p + " write-user-edid 127.bin", 2,
       "vantorq-ctl: COM5: 127.bin holds 127 bytes: an EDID for the unit holds 128 (the base block) or 256. Nothing was "
       "sent to the device.\n"},
      {"255 bytes", {}, p + " write-user-edid 255.bin", 2, "vantorq-ctl: COM5: 255.bin holds 255 bytes"},
      {"257 bytes", {}, p + " write-user-edid 257.bin", 2, "vantorq-ctl: COM5: 257.bin holds 257 bytes"},
      {"10 MB", {}, p + " write-user-edid 10485760.bin", 2,
       "vantorq-ctl: COM5: 10485760.bin: larger than 1024 KiB: an EDID for the unit holds 128 or 256 bytes. Nothing was "
       "sent to the device.\n"},
      {"a file that is not there", {}, p + " apply-setup none.txt", 2,
       "vantorq-ctl: COM5: none.txt: No such file or directory; nothing was sent\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fault) m_sim->WithDevice(c.fault);
    Received();
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(ran.err.rfind(c.err, 0), 0u) << ran.err;
    EXPECT_FALSE(fs::exists("x.bin")) << "nothing is written from a garbled or missing reply";
    if (c.status == 2) {
      EXPECT_EQ(Received(), "") << "a wrong file or port sends nothing";
    }
    m_sim->WithDevice([](sim::CDevice& d) {
      d.IgnoreSettings(false);
      d.GarbleReplies(false);
    });
  }
  // A 128-byte EDID goes as the console sends it: completed with 0xFF.
  ASSERT_TRUE(test::WriteFile("128.bin", edid.substr(0, 128)));
  EXPECT_EQ(Run(p + " --no-verify write-user-edid 128.bin").status, 0);
  EdidBuffer completed = Mine();
  std::fill(completed.begin() + 128, completed.end(), 0xFF);
  EXPECT_EQ(Received(), Bytes(protocol::UserEdidWriteCommand(completed)));
  // No device anywhere: said, with what the console says beneath its message.
  const std::string empty = m_work.Path() + "/no-ports";
  fs::create_directory(empty);
  const test::Ran none = test::RunShell("VANTORQ_PORT_DIR=" + empty + " " + VANTORQ_CTL + " find");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "vantorq-ctl: no device answered on COM1 to COM99\nNo serial port could be opened on COM1 to "
                      "COM99 \u2014 is the adapter plugged in?\n");
  // Held by another program (here: this one, as a console would hold it).
  {
    HeldPort holder;
    ASSERT_TRUE(holder.Hold(5));
    const test::Ran ran = Run("--port COM5 status");
    EXPECT_EQ(ran.status, 3);
    EXPECT_NE(ran.err.find("in use by another program (PID " + std::to_string(::getpid())), std::string::npos) << ran.err;
    EXPECT_EQ(Received(), "") << "a held line is never written to";
  }
}

TEST_F(Ctl, ACommandLineIsTakenWhollyOrRefusedBeforeAnythingIsSent) {
  Start();
  ASSERT_TRUE(test::WriteFile("mine.bin", Bytes(Mine())));
  const struct {
    std::string args;
    std::string err;  // after "vantorq-ctl: "; empty: accepted
  } cases[] = {
      {"--port '' status", "--port needs a port: COM1..COM99, or a device path such as /dev/ttyUSB0"},
      {"--port= status", "--port needs a port"},
      {"--port COM0 status", "--port: 'COM0' is no port: COM1..COM99, COMa-COMb, a device path (with a /), socket://HOST:PORT or "
                               "rfc2217://HOST:PORT"},
      {"--port COM100 status", "--port: 'COM100' is no port"},
      {"--port COM05 status", "--port: 'COM05' is no port"},
      {"--port unit7-COM5 status", "--port: 'unit7-COM5' is no port"},
      {"--port COM5 --port COM6 status", "--port given twice: give one list (--port COM34,COM35)"},
      {"--port COM34,,COM35 status", "--port: an empty part in the list"},
      {"--port COM34, status", "--port: an empty part in the list"},
      {"--port COM43-COM34 status", "--port: 'COM43-COM34': the range runs backwards"},
      {"--port COM34-35 status", "--port: 'COM34-35': a range is COMa-COMb, both ends from COM1 to COM99"},
      {"--port COM34-COM100 status", "--port: 'COM34-COM100': a range is COMa-COMb"},
      {"--port COM5,com5 status", "--port: COM5 is given twice"},
      {"--port COM5-COM7,COM6 status", "--port: COM6 is given twice"},
      {"--port socket://gw status", "--port: 'socket://gw': the gateway's TCP port is missing"},
      {"--port COM5,rfc2217://gw:70000 status", "--port: 'rfc2217://gw:70000': the gateway's TCP port is a number"},
      {"--port rfc2217://gw:4001,rfc2217://gw:4001 status", "--port: rfc2217://gw:4001 is given twice"},
      {"--port COM5,COM6 read-edid output", "read-edid on several units needs a file with %p in its name"},
      {"--port COM5,COM6 read-edid output -o tv.bin", "'tv.bin' would be written by every unit: put %p in its name"},
      {"--port COM5,COM6 save-setup hall.txt", "'hall.txt' would be written by every unit"},
      {"--port COM5,COM6 apply-setup -", "- (standard input) can feed one unit: name a file for several"},
      {"--json read-edid output", "--json prints the result on standard output: give read-edid a file"},
      {"--json save-setup -", "--json prints the result on standard output: give save-setup a file"},
      {"--all status", "--all goes with find"},
      {"find COM5", "find: wrong number of arguments"},
      {"get colour", "get what? preset, scaler or enhancement, not 'colour'"},
      {"get", "get: wrong number of arguments"},
      {"status --port", "--port needs a value"},
      {"--timeout 0 status", "--timeout takes seconds, more than 0 and at most 3600, not '0'"},
      {"--timeout 3600.001 status", "--timeout takes seconds"},
      {"--timeout '' status", "--timeout takes seconds"},
      {"set preset -1", "preset takes a number from 0 to 15, not '-1'"},
      {"set preset 16", "preset takes a number from 0 to 15, not '16'"},
      {"set preset ''", "set: an empty argument"},
      {"set scaler 4", "scaler takes a number from 0 to 3, not '4'"},
      {"set enhancement 4", "enhancement takes a number from 0 to 3, not '4'"},
      {"set enhancement 1x", "enhancement takes a number from 0 to 3, not '1x'"},
      {"set colour 1", "set what? preset, scaler or enhancement, not 'colour'"},
      {"read-edid input 16", "read-edid output, or read-edid input N with N from 0 to 15"},
      {"read-edid input -1", "read-edid output, or read-edid input N"},
      {"read-edid output -o ''", "-o needs a file name (- for standard output)"},
      {"read-edid output -o a -o b", "-o given twice"},
      {"status -o x", "-o goes with read-edid"},
      {"status --no-verify", "--no-verify goes with write-user-edid and apply-setup"},
      {"--frobnicate status", "unknown option '--frobnicate'"},
      {"write-user-edid ''", "write-user-edid: an empty argument"},
      {"\"$(printf '\\033[2J')\"", "unknown command '\\x1b[2J'"},
      {"", "no command given"},
      // The last value of each range, and -- before a file that looks like an option.
      {"--timeout 3600 --port COM5 set preset 15", ""},
      {"--timeout 5 --port com5 set preset 0", ""},
      {"--timeout 5 --port COM5 set scaler 3", ""},
      {"--timeout 5 --port COM5 set enhancement 0", ""},
      {"--timeout 5 --port COM5 read-edid input 15 -o -", ""},
      {"--timeout 5 --port COM5 --no-verify -- write-user-edid -mine.bin", ""},
  };
  ASSERT_TRUE(test::WriteFile("-mine.bin", Bytes(Mine())));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::Ran ran = Run(c.args + " | cat");
    if (c.err.empty()) {
      EXPECT_EQ(ran.err, "");
      continue;
    }
    EXPECT_EQ(ran.err.rfind("vantorq-ctl: " + c.err, 0), 0u) << ran.err;
    EXPECT_NE(ran.err.find("\nusage: vantorq-ctl"), std::string::npos);
    EXPECT_EQ(Received(), "") << "nothing is sent on a wrong command line";
  }
  // COM99 is a port: it is looked for, not refused.
  const test::Ran last = Run("--port COM99 status");
  EXPECT_EQ(last.status, 3);
  EXPECT_EQ(last.err.rfind("vantorq-ctl: COM99: cannot open ", 0), 0u) << last.err;
}

TEST_F(Ctl, AUserEdidCountsAsWrittenOnlyOnceTheUnitProvesItKeptIt) {
  Start({.com = 5, .silent = {6}});
  ASSERT_TRUE(test::WriteFile("mine.bin", Bytes(Mine())));
  ASSERT_TRUE(test::WriteFile("unit.txt", FormatSetup(vantorq::Setup{11, 3, 2, Mine()})));
  const std::string p = kPort5;
  const std::string kept = Bytes(protocol::UserEdidWriteCommand(Mine())) + Bytes(protocol::InputEdidReadCommand(15));
  const struct {
    const char* name;
    sim::UserEdidFault fault;
    bool garble;
    std::string args;
    int status;
    std::string text;  // standard output, or the start of standard error
    std::string bytes;
  } cases[] = {
      {"changed", sim::UserEdidFault::OneByteChanged, false, p + " write-user-edid mine.bin", 1,
       "vantorq-ctl: COM5: write-user-edid: 790 bytes sent whole, but: The unit does not hold the EDID that was "
       "written: byte 131 reads 00 where 7f was written.\n",
       kept},
      {"nothing attached", sim::UserEdidFault::None, false, "--timeout 0.1 --port COM6 write-user-edid mine.bin", 1,
       "vantorq-ctl: COM6: write-user-edid: 790 bytes sent whole, but: No EDID reply came within 242 ms. The write "
       "could not be verified.\n",
       ""},
      {"garbled", sim::UserEdidFault::None, true, p + " write-user-edid mine.bin", 1,
       "vantorq-ctl: COM5: write-user-edid: 790 bytes sent whole, but: The EDID reply was garbled on the line: byte "
       "131 of 256 was split by a stray character. The write could not be verified.\n",
       kept},
      {"not kept, in a setup", sim::UserEdidFault::OneByteChanged, false, p + " apply-setup unit.txt", 1,
       "vantorq-ctl: COM5: apply-setup: enhancement 2 Medium, scaler 3 HDBT C mode and user EDID sent; preset not "
       "sent: the user EDID is not proven: The unit does not hold the EDID that was written: byte 131",
       Bytes(protocol::EnhancementCommand(2)) + Bytes(protocol::ScalerCommand(3)) + kept},
      {"kept, in a setup", sim::UserEdidFault::None, false, p + " apply-setup unit.txt", 0,
       "applied unit.txt: preset 11 4K30Hz_3D_6CH_HDR, scaler 3 HDBT C mode, enhancement 2 Medium, user EDID; "
       "verified: the three settings as the unit reports them, the user EDID as read back from preset 15\n",
       Bytes(protocol::EnhancementCommand(2)) + Bytes(protocol::ScalerCommand(3)) + kept +
           Bytes(protocol::PresetCommand(11)) + Bytes(protocol::ProbeCommand())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_sim->WithDevice([&](sim::CDevice& d) {
      d.SetUserEdidFault(c.fault);
      d.GarbleReplies(c.garble);
    });
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    const std::string& said = c.status == 0 ? ran.out : ran.err;
    EXPECT_EQ(said.rfind(c.text, 0), 0u) << said;
    EXPECT_EQ(Received(), c.bytes);
  }
}

// The README's pipeline, line by line as it stands there: the television's
// EDID limited to the link, given the receiver's audio and a name, looked
// at, and written proven kept.
TEST_F(Ctl, TheReadmesPipelineMakesTheEdidTheInstallationNeeds) {
  Start({.com = 3});
  std::string readme;
  ASSERT_TRUE(test::ReadFile(std::string(VANTORQ_SOURCE_DIR) + "/README.md", readme));
  const auto at = readme.find("<!-- pipeline");
  ASSERT_NE(at, std::string::npos);
  const auto begin = readme.find("```sh\n", at) + 6;
  std::istringstream block(readme.substr(begin, readme.find("```", begin) - begin));
  std::string tv;
  m_sim->WithDevice([&](sim::CDevice& d) { tv = Bytes(d.OutputEdid()); });
  ASSERT_TRUE(fs::copy_file(std::string(VANTORQ_EDID_CORPUS) + "/0117.bin", "avr.bin"));  // six audio formats
  int lines = 0;
  std::string detail;
  for (std::string line; std::getline(block, line); ++lines) {
    SCOPED_TRACE(line);
    for (const auto& [name, path] : {std::pair<std::string, std::string>{"vantorq-ctl ", std::string(VANTORQ_CTL) + " --timeout 5 "},
                                     {"vantorq-edid ", std::string(VANTORQ_EDID_TOOL) + " "}}) {
      if (line.rfind(name, 0) == 0) line = path + line.substr(name.size());
    }
    const test::Ran ran = test::RunShell(line);
    ASSERT_EQ(ran.status, 0) << ran.err;
    if (line.find("--detail") != std::string::npos) detail = ran.out;
  }
  EXPECT_EQ(lines, 5);
  std::string hall;
  ASSERT_TRUE(test::ReadFile("hall.bin", hall));
  EXPECT_NE(hall, tv);
  // The five answers: limited to the link, the receiver's audio, the name.
  EXPECT_NE(detail.find("sink limit 300 MHz\r\n"), std::string::npos) << detail;
  EXPECT_NE(detail.find("Audio: MAT (MLP), 8 channels, up to 192.0 kHz\r\n"), std::string::npos);
  EXPECT_NE(detail.find("Name: HALL A\r\n"), std::string::npos);
  m_sim->WithDevice([&](sim::CDevice& d) {
    EXPECT_EQ(d.Preset(), 15);
    EXPECT_EQ(Bytes(d.EdidOf(15)), hall);
  });
}

TEST_F(Ctl, OutputsAreWrittenIntoWhatIsThereAndNothingIsReplaced) {
  Start();
  const std::string p = kPort5;
  std::string edid;
  m_sim->WithDevice([&](sim::CDevice& d) { edid = Bytes(d.OutputEdid()); });
  // A file with a second name and its own mode; a link to a file; a link
  // to nowhere; a folder; a FIFO with a reader; a terminal.
  ASSERT_TRUE(test::WriteFile("linked.bin", "old"));
  ::chmod("linked.bin", 0640);
  ASSERT_EQ(::link("linked.bin", "other-name.bin"), 0);
  ASSERT_TRUE(test::WriteFile("private.bin", "old"));
  ::chmod("private.bin", 0600);
  ASSERT_TRUE(test::WriteFile("target.bin", "old"));
  fs::create_symlink("target.bin", "via-link.bin");
  fs::create_symlink("nowhere/x.bin", "dangling.bin");
  fs::create_directory("folder");
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  std::string fromFifo;
  std::thread reader([&] { test::ReadFile("fifo", fromFifo); });
  auto terminal = sim::CPseudoTerminal::Create();
  ASSERT_NE(terminal, nullptr);
  const std::string tty = terminal->FarPath();
  const struct {
    std::string args;
    int status;
    std::string out;  // standard output
    std::string err;  // the start of standard error
  } cases[] = {
      {p + " read-edid output -o new.bin", 0, "", ""},
      {p + " read-edid output -o linked.bin", 0, "", ""},
      {p + " read-edid output -o via-link.bin", 0, "", ""},
      {p + " read-edid output -o private.bin", 0, "", ""},
      {p + " read-edid output -o fifo", 0, "", ""},
      {p + " read-edid output -o -", 0, edid, ""},
      {p + " read-edid output -o /dev/fd/1", 0, edid, ""},
      {p + " read-edid output -o ./-", 0, "", ""},
      {p + " read-edid output -o dangling.bin", 2, "",
       "vantorq-ctl: COM5: dangling.bin: it is a link that leads nowhere; no file is made through it; the EDID was not "
       "written\n"},
      {p + " read-edid output -o folder", 2, "", "vantorq-ctl: COM5: folder: it is a folder; the EDID was not written\n"},
      {p + " read-edid output -o " + tty, 2, "",
       "vantorq-ctl: COM5: " + tty + ": it is a terminal, and these are binary bytes that a terminal would take as commands"},
      {p + " read-edid output > " + tty, 2, "", "vantorq-ctl: COM5: read-edid: standard output is a terminal"},
      {p + " save-setup " + tty, 0, "saved " + tty + ": preset 7 4K60Hz_3D_8CH, scaler 0 BYPASS, enhancement 0 Off, "
                                    "user EDID\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(ran.out, c.out);
    EXPECT_EQ(ran.err.rfind(c.err, 0), 0u) << ran.err;
  }
  reader.join();
  EXPECT_EQ(fromFifo, edid);
  EXPECT_EQ(fs::status("fifo").type(), fs::file_type::fifo);
  std::string text;
  for (const char* name : {"new.bin", "linked.bin", "other-name.bin", "target.bin", "private.bin", "-"}) {
    ASSERT_TRUE(test::ReadFile(name, text)) << name;
    EXPECT_EQ(text, edid) << name;
  }
  struct stat st {};
  ASSERT_EQ(::stat("linked.bin", &st), 0);
  EXPECT_EQ(st.st_nlink, 2u) << "its other name still names it";
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "its mode is kept";
  ASSERT_EQ(::stat("private.bin", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a file replaced keeps its mode";
  EXPECT_TRUE(fs::is_symlink("via-link.bin"));
  EXPECT_TRUE(fs::is_symlink("dangling.bin"));
  EXPECT_FALSE(fs::exists("nowhere"));
  EXPECT_TRUE(fs::is_empty("folder"));
  EXPECT_EQ(fs::status(tty).type(), fs::file_type::character);
  const auto shown = terminal->Receive(1000ms);
  EXPECT_EQ(ParseSetup(std::string(shown.begin(), shown.end())).ok, true) << "the setup reached the terminal";
}

TEST_F(Ctl, AResultThatCannotBePrintedIsSaidAndTheCommandStillCounts) {
  Start();
  const std::string p = kPort5;
  const struct {
    std::string args;
    std::string err;
  } cases[] = {
      {p + " set preset 3 > /dev/full",
       "vantorq-ctl: COM5: standard output: No space left on device: done, but not reported there: preset 3 4K30Hz_3D_2CH\n"},
      {p + " set scaler 1 >&-",
       "vantorq-ctl: COM5: standard output is closed: done, but not reported there: scaler 1 4K->2K\n"},
      {p + " status >&-", "vantorq-ctl: COM5: standard output is closed: done, but not reported there: preset 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Received();
    const test::Ran ran = Run(c.args);
    EXPECT_EQ(ran.status, 4);
    EXPECT_EQ(ran.err.rfind(c.err, 0), 0u) << ran.err;
    EXPECT_EQ(Received().find("preset 3"), std::string::npos) << "a result never goes down the line";
  }
  m_sim->WithDevice([](sim::CDevice& d) { EXPECT_EQ(std::tuple(d.Preset(), d.Scaler()), std::tuple(3, 2)); });
  // Binary to a closed output is refused before the device is asked.
  const test::Ran closed = Run(p + " read-edid output >&-");
  EXPECT_EQ(closed.status, 2);
  EXPECT_EQ(closed.err, "vantorq-ctl: COM5: read-edid: standard output is closed: give -o FILE\n");
  EXPECT_EQ(Received(), "");
}

// Ten units at once, one silent and one held by another program: each
// unit's line names it, the exit status is the worst, and --json is an
// array a JSON parser reads with every unit in it.
TEST_F(Ctl, ManyUnitsInOneRunEachSaidByItsPort) {
  Start({.com = 34, .silent = {40}});
  std::vector<std::unique_ptr<sim::CSimulator>> units;
  for (unsigned com : {35u, 36u, 37u, 38u, 39u, 41u, 42u, 43u}) {
    units.push_back(std::make_unique<sim::CSimulator>(sim::SimOptions{.portDir = m_sim->PortDir(), .com = com, .fast = true}));
    std::string error;
    ASSERT_TRUE(units.back()->StartThread(error)) << error;
  }
  HeldPort holder;
  ASSERT_TRUE(holder.Hold(41));

  const test::Ran text = Run("--timeout 2 --port COM34-COM43 status");
  EXPECT_EQ(text.status, 3) << "a busy port (3) is worse than a silent one (1)";
  for (unsigned com : {34u, 35u, 36u, 37u, 38u, 39u, 42u, 43u}) {
    const std::string port = "COM" + std::to_string(com);
    EXPECT_NE(text.out.find(port + ": preset 7 4K60Hz_3D_8CH\n" + port + ": scaler 0 BYPASS\n" + port + ": enhancement 0 Off\n"),
              std::string::npos) << text.out;
  }
  EXPECT_NE(text.err.find("vantorq-ctl: COM40: status: no answer within 2000 ms.\n"), std::string::npos) << text.err;
  EXPECT_NE(text.err.find("vantorq-ctl: COM41: cannot open "), std::string::npos) << text.err;
  EXPECT_NE(text.err.find("in use by another program (PID " + std::to_string(::getpid())), std::string::npos);
  EXPECT_EQ(Received(41), "") << "a held line is never written to";

  const test::Ran json = Run("--timeout 2 --port COM34-COM43 --json get preset");
  EXPECT_EQ(json.status, 3);
  rapidjson::Document doc;
  doc.Parse(json.out.c_str());
  ASSERT_FALSE(doc.HasParseError()) << json.out;
  ASSERT_TRUE(doc.IsArray());
  ASSERT_EQ(doc.Size(), 10u);
  for (rapidjson::SizeType i = 0; i < doc.Size(); ++i) {
    const auto& unit = doc[i];
    const std::string port = "COM" + std::to_string(34 + i);
    SCOPED_TRACE(port);
    EXPECT_EQ(std::string(unit["port"].GetString()), port) << "in the order given";
    const int exit = port == "COM40" ? 1 : port == "COM41" ? 3 : 0;
    EXPECT_EQ(unit["exit"].GetInt(), exit);
    EXPECT_EQ(unit["ok"].GetBool(), exit == 0);
    EXPECT_EQ(unit["error"].IsNull(), exit == 0);
    if (exit == 0) {
      EXPECT_EQ(unit["preset"].GetInt(), 7);
      EXPECT_EQ(std::string(unit["preset_name"].GetString()), "4K60Hz_3D_8CH");
    } else {
      EXPECT_TRUE(unit["preset"].IsNull());
    }
  }
  // find --all: the ports that answer, bare; the held one said, the silent one not.
  const test::Ran all = Run("--timeout 2 find --all");
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out, "COM34\nCOM35\nCOM36\nCOM37\nCOM38\nCOM39\nCOM42\nCOM43\n");
  EXPECT_NE(all.err.find("vantorq-ctl: COM41: cannot open"), std::string::npos) << all.err;
  EXPECT_EQ(all.err.find("COM40"), std::string::npos) << all.err;
  // get: the bare number, for a script.
  const test::Ran get = Run("--timeout 5 --port COM35 get enhancement");
  EXPECT_EQ(std::tuple(get.status, get.out), std::tuple(0, std::string("0\n")));
}

// A port that opens and never answers costs the search its window, not
// the whole limit: the search ends by itself, long before the 41 s the
// wait allows (the run is cut at 20 s, so that a hang fails).
TEST_F(Ctl, ASilentPortCostsTheSearchItsWindowOnly) {
  Start({.com = 5, .silent = {3}});
  ASSERT_EQ(::unlink((m_sim->PortDir() + "/COM5").c_str()), 0);  // only the silent port is left
  const test::Ran ran = test::RunShell(std::string("timeout 20 ") + VANTORQ_CTL + " find");
  EXPECT_EQ(ran.status, 1) << "124: the search did not end by itself";
  EXPECT_EQ(ran.err, "vantorq-ctl: no device answered on COM1 to COM99\nNo answer from COM3.\n");
}

TEST_F(Ctl, EverySignalEndsEveryWaitAndLetsThePortGo) {
  Start({.com = 5, .silent = {6}});
  const std::string p = kPort5;
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  const std::string lockDir = m_work.Path() + "/locks";
  fs::create_directory(lockDir);
  test::CScopedEnv locks("VANTORQ_LOCK_DIR", lockDir);
  // Standard error a pipe that is full and that nobody reads.
  int full[2];
  ASSERT_EQ(::pipe(full), 0);
  ::fcntl(full[1], F_SETFL, O_NONBLOCK);
  while (::write(full[1], std::string(4096, 'x').data(), 4096) > 0) {
  }
  ::fcntl(full[1], F_SETFL, 0);  // as a pipe is given: a write to it waits
  int endless[2];  // a standard input whose writer never writes nor closes
  ASSERT_EQ(::pipe(endless), 0);
  const int devNull = ::open("/dev/null", O_RDWR);
  // Whether the child is in the wait the signal must end: the FIFO open,
  // or the probe on the silent port's line.
  const auto fifoOpen = [](pid_t pid) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      if (fs::read_symlink(fd.path(), ec).filename() == "fifo") return true;
    }
    return false;
  };
  const auto probed = [&](pid_t) { return Received(6).size() > 0; };
  const auto handles = [](pid_t) { return true; };
  // A gateway whose queue of connections is full: a connection to it waits
  // in SYN-SENT for the whole of its window.
  int gatewayPort = 0;
  const int gateway = test::ListenOnLoopback(0, gatewayPort);
  ASSERT_GE(gateway, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(gatewayPort));
  std::vector<int> queued;
  for (int i = 0; i < 2; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  const std::string unaccepted = "socket://127.0.0.1:" + std::to_string(gatewayPort);
  const auto connecting = [&] { return test::TcpSockets(gatewayPort, true, "02"); };
  int connectingBefore = 0;
  const auto connects = [&](pid_t) { return connecting() > connectingBefore; };
  const struct {
    std::vector<std::string> args;
    std::array<int, 3> fds;
    bool trace;
    std::function<bool(pid_t)> waiting;
  } cases[] = {
      {{"--port", "COM5", "write-user-edid", "fifo"}, {devNull, devNull, devNull}, false, fifoOpen},
      {{"--port", "COM5", "apply-setup", "-"}, {endless[0], devNull, devNull}, false, handles},
      {{"--timeout", "30", "--port", "COM6", "status"}, {devNull, devNull, full[1]}, true, probed},
      {{"--timeout", "30", "--port", "COM6", "save-setup", "unit.txt"}, {devNull, devNull, full[1]}, true, probed},
      {{"--port", unaccepted, "status"}, {devNull, devNull, devNull}, false, connects},
  };
  for (const auto& c : cases) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      SCOPED_TRACE(c.args[c.args.size() - 2] + " " + c.args.back() + ", signal " + std::to_string(sig));
      test::CScopedEnv trace("VANTORQ_TRACE", c.trace ? "1" : "0");
      std::vector<std::string> argv{VANTORQ_CTL};
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      connectingBefore = connecting();
      test::CChild child(argv, c.fds);
      ASSERT_TRUE(child.Started());
      // Once it takes the signal itself and, where that can be seen, once
      // it waits.
      Received(6);
      ASSERT_TRUE(test::WaitUntil([&] { return Catches(child.Pid(), sig) && c.waiting(child.Pid()); }, 5000ms));
      child.Signal(sig);
      const auto status = child.Wait(3000ms);
      ASSERT_TRUE(status.has_value()) << "still running after the signal";
      EXPECT_EQ(*status, 1);
      EXPECT_TRUE(fs::is_empty(lockDir)) << "the lock file went with the port";
    }
  }
  // With the log held up, the command still ends in its own time.
  test::CScopedEnv trace("VANTORQ_TRACE", "1");
  test::CChild child({VANTORQ_CTL, "--timeout", "0.2", "--port", "COM6", "status"}, {devNull, devNull, full[1]});
  const auto status = child.Wait(3000ms);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  for (int fd : {full[0], full[1], endless[0], endless[1], devNull, gateway}) ::close(fd);
  for (int fd : queued) ::close(fd);
}

// The commands in-process, on a line double that answers as the device
// does: a write fails at the exact byte a test chooses, and an answer is
// held back exactly when a test wants it.
class CtlOnLine : public ::testing::Test {
 protected:
  CtlOnLine() {
    Reset(2000ms);
    m_poll.callOnTimeout([this] { Answer(); });
    m_poll.start(1);
  }
  // A fresh device on a fresh line on COM5, and a session for it.
  void Reset(std::chrono::milliseconds replyWait) {
    m_session.reset();
    m_line = std::make_shared<sim::CLineDouble>(m_clock);
    m_opener = std::make_shared<sim::CLineOpener>();
    m_opener->Add(5, m_line);
    m_device = sim::CDevice();
    m_answered = 0;
    m_session = std::make_unique<tool::CCtlSession>(m_opener, replyWait, m_clock);
  }
  // Runs `words` on COM5: its status; m_said and m_reported hold what it
  // said and reported.
  int Run(std::vector<std::string> words) {
    m_said.clear();
    m_options.words = std::move(words);
    m_options.port = "COM5";
    int out[2];
    if (::pipe2(out, O_NONBLOCK) != 0) return -1;
    tool::CCtlCommands commands(*m_session, m_options,
                                {out[1], false, -1, [this](const std::string& s) { m_said += s; }}, 5, "COM5");
    const int status = commands.Run();
    char buf[4096];
    m_reported.clear();
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) m_reported.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::close(out[1]);
    return status;
  }
  // The device's part: each command line that reached the wire gets its
  // answers, but for those `m_withhold` holds back (and then `m_withheld`
  // runs).
  void Answer() {
    const auto wire = m_line->Wire();
    while (m_answered < wire.size()) {
      const auto end = std::find(wire.begin() + static_cast<long>(m_answered), wire.end(), '\n');
      if (end == wire.end()) return;
      const std::string command(wire.begin() + static_cast<long>(m_answered), end + 1);
      m_answered += command.size();
      for (const std::string& reply : m_device.Receive({reinterpret_cast<const std::uint8_t*>(command.data()),
                                                        command.size()})) {
        if (m_withhold && m_withhold(command, reply)) {
          if (m_withheld) m_withheld();
        } else {
          m_line->Feed(reply);
        }
      }
    }
  }
  std::string Wire() {
    const auto wire = m_line->Wire();
    return {wire.begin(), wire.end()};
  }

  test::CWorkFolder m_work;
  std::shared_ptr<CManualClock> m_clock = std::make_shared<CManualClock>();
  std::shared_ptr<sim::CLineDouble> m_line;
  std::shared_ptr<sim::CLineOpener> m_opener;
  std::unique_ptr<tool::CCtlSession> m_session;
  tool::CtlOptions m_options;
  sim::CDevice m_device;
  std::size_t m_answered = 0;
  std::function<bool(const std::string& command, const std::string& reply)> m_withhold;
  std::function<void()> m_withheld;
  QTimer m_poll;
  std::string m_said;
  std::string m_reported;
};

TEST_F(CtlOnLine, ApplySetupSaysWhatReachedTheUnitWhenTheLineFailsPartWay) {
  ASSERT_TRUE(test::WriteFile("unit.txt", FormatSetup({11, 3, 2, Mine()})));
  const std::size_t enhancement = 24, scaler = 19, edid = 790, ask = 24;
  const struct {
    std::size_t failAfter;  // bytes the line takes before the adapter is pulled
    std::string said;
  } cases[] = {
      {0, "COM5: apply-setup: nothing sent; enhancement, scaler, user EDID and preset not sent: the port refused it"},
      {enhancement, "COM5: apply-setup: enhancement 2 Medium sent; scaler, user EDID and preset not sent: the port "
                    "refused it part-way"},
      {enhancement + scaler + 100,
       "COM5: apply-setup: enhancement 2 Medium and scaler 3 HDBT C mode sent; user EDID and preset not sent: The port "
       "refused it part-way"},
      {enhancement + scaler + edid,
       "COM5: apply-setup: enhancement 2 Medium, scaler 3 HDBT C mode and user EDID sent; preset not sent: the user "
       "EDID is not proven: The read-back of preset 15 was not sent"},
      {enhancement + scaler + edid + ask,
       "COM5: apply-setup: enhancement 2 Medium, scaler 3 HDBT C mode and user EDID sent; preset not sent: the port "
       "refused it part-way"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failAfter);
    Reset(2000ms);
    m_line->FailWriteAfter(c.failAfter);
    EXPECT_EQ(Run({"apply-setup", "unit.txt"}), tool::kNotConfirmed);
    EXPECT_EQ(m_said.rfind(c.said, 0), 0u) << m_said;
  }
}

TEST_F(CtlOnLine, SaveSetupSetsThePresetBackOnEveryPathTheLineAllows) {
  const std::string read = Bytes(protocol::ProbeCommand()) + Bytes(protocol::InputEdidReadCommand(15));
  const std::string back = Bytes(protocol::PresetCommand(7));
  const struct {
    const char* name;
    std::function<void()> onRead;  // when the read reply is held back
    std::string said;
    std::string wire;
  } cases[] = {
      {"no reply", [] {},
       "COM5: save-setup: the user EDID: no EDID reply within 237 ms; preset 7 4K60Hz_3D_8CH set again", read + back},
      {"a signal (a hang-up of the terminal, Ctrl+C)", [this] { m_session->Interrupt(); },
       "COM5: save-setup: the user EDID: interrupted; preset 7 4K60Hz_3D_8CH set again", read + back},
      {"the adapter pulled", [this] { m_line->FailWriteAfter(0); },
       "COM5: save-setup: the user EDID: no EDID reply within 237 ms; preset 7 4K60Hz_3D_8CH not set again: the port "
       "refused it part-way",
       read},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(100ms);
    m_withhold = [](const std::string&, const std::string& reply) { return reply.find(" DATA ") != std::string::npos; };
    m_withheld = c.onRead;
    EXPECT_EQ(Run({"save-setup", "unit.txt"}), tool::kNotConfirmed);
    EXPECT_EQ(m_said.rfind(c.said, 0), 0u) << m_said;
    EXPECT_EQ(Wire(), c.wire);
    EXPECT_FALSE(fs::exists("unit.txt"));
  }
}

TEST_F(CtlOnLine, AReadThatFailsIsSaidInOneSentenceAndWritesNothing) {
  m_line->FailWriteAfter(0);
  EXPECT_EQ(Run({"read-edid", "output", "-o", "tv.bin"}), tool::kNotConfirmed);
  EXPECT_EQ(m_said, "COM5: read-edid: the port refused it part-way: the adapter may have been pulled. Nothing was written.");
  EXPECT_FALSE(fs::exists("tv.bin"));
}

TEST_F(CtlOnLine, EveryWriteOutcomeIsTheSessionsAnswer) {
  const auto probe = protocol::ProbeCommand();
  const struct {
    const char* name;
    std::function<void(sim::CLineDouble&)> fault;
    std::string why;
  } cases[] = {
      {"sent", [](sim::CLineDouble&) {}, ""},
      {"stalled", [](sim::CLineDouble& l) { l.StallWire(); }, "the line did not send it in time"},
      {"refused", [](sim::CLineDouble& l) { l.FailWriteAfter(3); }, "the port refused it part-way"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(2000ms);
    ASSERT_TRUE(m_session->Open(5));
    c.fault(*m_line);
    std::string why;
    EXPECT_EQ(m_session->Send(probe, why), c.why.empty());
    EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    EXPECT_EQ(m_session->LineFailed(), !c.why.empty());
    // A failed line is that port's alone: the next port opened is written to.
    auto other = std::make_shared<sim::CLineDouble>(m_clock);
    m_opener->Add(6, other);
    ASSERT_TRUE(m_session->Open(6));
    EXPECT_FALSE(m_session->LineFailed());
    EXPECT_TRUE(m_session->Send(probe, why)) << why;
  }
}

TEST_F(CtlOnLine, WhatAnEarlierAnswerSaidIsNoAnswerToTheNextQuestion) {
  Reset(100ms);
  ASSERT_TRUE(m_session->Open(5));
  tool::DeviceState state;
  std::string why;
  ASSERT_TRUE(m_session->AskState(state, why)) << why;
  EXPECT_EQ(std::tuple(state.preset, state.scaler, state.enhancement), std::tuple(7, 0, 0));
  // The unit no longer answers the probe, and the same port is asked again.
  m_withhold = [](const std::string& command, const std::string&) { return command.find("GET STA") != std::string::npos; };
  EXPECT_FALSE(m_session->AskState(state, why));
  EXPECT_EQ(why, "no answer within 100 ms.");
  EXPECT_FALSE(state.Complete());
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
  EXPECT_TRUE(ParseSetup("\xEF\xBB\xBF" + text).ok) << "as an editor that marks UTF-8 saves it";
}

}  // namespace
}  // namespace vantorq
