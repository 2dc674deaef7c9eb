// Units behind network gateways: the Telnet side of COM-PORT control, the
// addresses and the ports file as an installer writes them, and gateways
// that fail in the ways a rack's do.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "NetworkLine.h"
#include "OpenFailure.h"
#include "PortsFile.h"
#include "SerialChannel.h"
#include "Support.h"
#include "TelnetCodec.h"

namespace vantorq {
namespace {

using namespace telnet;
using Bytes = std::vector<std::uint8_t>;

TEST(TelnetCodec, DataComesThroughWhole0xFFIncludedAndTheNegotiationIsAnswered) {
  const struct {
    const char* what;
    Bytes in;
    Bytes data;
    Bytes reply;
  } cases[] = {
      {"plain data", {'O', 'K', '\r', '\n'}, {'O', 'K', '\r', '\n'}, {}},
      {"a doubled 0xFF is one data byte", {0x41, kIac, kIac, 0x42}, {0x41, 0xFF, 0x42}, {}},
      {"an echo offered is refused", {kIac, kWill, 1, 'x'}, {'x'}, {kIac, kDont, 1}},
      {"an option asked of us that we do not do is refused", {kIac, kDo, 24}, {}, {kIac, kWont, 24}},
      {"binary asked after we offered it is not answered again", {kIac, kDo, kBinary}, {}, {}},
      {"COM-PORT asked of us is agreed to once", {kIac, kDo, kComPort, kIac, kDo, kComPort}, {}, {}},
      {"the gateway's answers carry no data",
       {kIac, kSb, kComPort, 101, 0, 0, 0xE1, 0, kIac, kSe, 'A', kIac, kSb, kComPort, 107, 0, kIac, kSe},
       {'A'},
       {}},
      {"a subnegotiation's doubled 0xFF stays inside it", {kIac, kSb, kComPort, 103, kIac, kIac, kIac, kSe, 'B'}, {'B'}, {}},
      {"a NOP between data", {'a', kIac, 241, 'b'}, {'a', 'b'}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Whole, and a byte at a time, as TCP may cut it anywhere.
    for (const bool split : {false, true}) {
      CTelnetCodec codec;
      codec.Greeting();
      Bytes data, reply;
      if (split) {
        for (const std::uint8_t b : c.in) codec.Decode({&b, 1}, data, reply);
      } else {
        codec.Decode(c.in, data, reply);
      }
      EXPECT_EQ(data, c.data);
      EXPECT_EQ(reply, c.reply);
    }
  }
  CTelnetCodec codec;
  Bytes data, reply;
  codec.Decode(Bytes{kIac, kSb, kComPort, 101, 0, 0, 0xE1, 0, kIac, kSe}, data, reply);
  EXPECT_EQ(codec.Confirmed(kSetBaudRate), 57600u);
  EXPECT_EQ(codec.Confirmed(kSetParity), std::nullopt);

  Bytes escaped;
  CTelnetCodec::Escape(Bytes{0x00, 0xFF, 0xFF, 0x7F}, escaped);
  EXPECT_EQ(escaped, (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
  Bytes command;
  CTelnetCodec::ComPortCommand(kSetBaudRate, Bytes{0, 0, 0xE1, 0}, command);
  EXPECT_EQ(command, (Bytes{kIac, kSb, kComPort, kSetBaudRate, 0, 0, 0xE1, 0, kIac, kSe}));
}

TEST(NetworkAddress, OnlyAWholeGatewayAddressIsTaken) {
  const struct {
    const char* text;
    bool ok;
    bool telnet;
    const char* host;
    const char* error;  // part of it
  } cases[] = {
      {"rfc2217://gw-hall-a:4001", true, true, "gw-hall-a", ""},
      {"socket://192.168.1.50:4001", true, false, "192.168.1.50", ""},
      {"socket://[fe80::1%eth0]:23", true, false, "fe80::1%eth0", ""},
      {"socket://gw", false, false, "", "TCP port is missing"},
      {"socket://gw:", false, false, "", "1 to 65535"},
      {"socket://gw:0", false, false, "", "1 to 65535"},
      {"socket://gw:65536", false, false, "", "1 to 65535"},
      {"socket://gw:04001", false, false, "", "1 to 65535"},
      {"socket://gw:4001x", false, false, "", "1 to 65535"},
      {"socket://:4001", false, false, "", "host"},
      {"socket://g w:4001", false, false, "", "host"},
      {"socket://gw/x:4001", false, false, "", "host"},
      {"socket://::1:4001", false, false, "", "[ADDRESS]:PORT"},
      {"socket://[::1]4001", false, false, "", "[ADDRESS]:PORT"},
      {"telnet://gw:23", false, false, "", "socket://HOST:PORT or rfc2217://HOST:PORT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NetworkAddress address;
    std::string error;
    ASSERT_EQ(ParseNetworkAddress(c.text, address, error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(address.telnet, c.telnet);
      EXPECT_EQ(address.host, c.host);
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
  // Both forms of one gateway port share one lock.
  NetworkAddress a, b;
  std::string error;
  ASSERT_TRUE(ParseNetworkAddress("rfc2217://GW-Hall-A:4001", a, error));
  ASSERT_TRUE(ParseNetworkAddress("socket://gw-hall-a:4001", b, error));
  EXPECT_EQ(NetworkLockKey(a), NetworkLockKey(b));
  EXPECT_EQ(NetworkLockKey(a), "LCK..net_gw-hall-a:4001");
}

TEST(PortsFile, GoodLinesAreKeptAndEveryBadOneIsSaid) {
  const PortsFile file = ParsePortsFile(
      "# the rack in hall A\n"
      "COM40 rfc2217://gw-hall-a:4001   # unit 1\n"
      "\tCOM41\tsocket://10.0.0.7:4002\r\n"
      "\n"
      "COM0 socket://gw:1\n"
      "COM040 socket://gw:1\n"
      "COM42\n"
      "COM43 socket://gw:1 socket://gw:2\n"
      "COM44 telnet://gw:23\n"
      "COM40 socket://gw:9\n"
      "com45 socket://gw:1");
  EXPECT_EQ(file.addresses,
            (std::map<unsigned, std::string>{{40, "rfc2217://gw-hall-a:4001"}, {41, "socket://10.0.0.7:4002"}}));
  const std::vector<std::string> problems{
      "line 5: COM0 is no COM name (COM1 to COM99)",
      "line 6: COM040 is no COM name (COM1 to COM99)",
      "line 7: COM42: a gateway is socket://HOST:PORT or rfc2217://HOST:PORT",
      "line 8: one address after COM43, no more",
      "line 9: COM44: a gateway is socket://HOST:PORT or rfc2217://HOST:PORT",
      "line 10: COM40 is given twice: the first line holds",
      "line 11: com45 is no COM name (COM1 to COM99)",
  };
  EXPECT_EQ(file.problems, problems);

  // A search that finds nothing says why a unit the file meant may be missing.
  test::CWorkFolder work;
  test::CScopedEnv none("VANTORQ_PORT_DIR", work.Path());
  const test::CPortsFile config(work.Path(), "COM40 socket://gw-hall-a\n");
  ASSERT_TRUE(config.Written());
  const test::Ran find = test::RunShell(std::string(VANTORQ_CTL) + " find");
  EXPECT_EQ(find.status, 1);
  EXPECT_NE(find.err.find("The ports file " + work.Path() + "/vantorq/ports has lines left out: line 1: COM40: the "
                          "gateway's TCP port is missing"),
            std::string::npos)
      << find.err;
}

// vantorq-ctl forks a run per unit, and a lookup thread alive at the fork
// would leave each child waiting for an answer that never comes to it.
TEST(PortsFile, AProgramThatForksReadsItWithoutStartingALookup) {
  test::CWorkFolder work;
  const test::CPortsFile config(work.Path(), "COM40 rfc2217://gw-hall-a.invalid:4001\n");
  ASSERT_TRUE(config.Written());
  ResolveNamesAhead(false);
  const int threads = test::ThreadCount();
  EXPECT_EQ(NetworkAddressFor(40), "rfc2217://gw-hall-a.invalid:4001");
  EXPECT_EQ(test::ThreadCount(), threads);
  ResolveNamesAhead(true);
}

// A gateway of our own making on the loopback: what it does with each
// connection is the test's.
class CFakeGateway {
 public:
  explicit CFakeGateway(std::function<void(int)> serve) {
    m_listener = test::ListenOnLoopback(4, m_port);
    m_thread = std::thread([this, serve = std::move(serve)] {
      const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        serve(fd);
        ::close(fd);
      }
    });
  }
  ~CFakeGateway() {
    ::shutdown(m_listener, SHUT_RDWR);  // ends an accept still waiting
    m_thread.join();
    ::close(m_listener);
  }
  int Port() const { return m_port; }

 private:
  int m_listener = -1;
  int m_port = 0;
  std::thread m_thread;
};

// Reads from `fd` until `wanted` has come in (or 3 s pass); all read.
Bytes ReadUntil(int fd, const Bytes& wanted) {
  Bytes got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::search(got.begin(), got.end(), wanted.begin(), wanted.end()) == got.end() &&
         std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) != 1) continue;
    std::array<std::uint8_t, 512> buf{};
    const auto n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    got.insert(got.end(), buf.begin(), buf.begin() + n);
  }
  return got;
}

TEST(NetworkLine, ATelnetGatewayIsToldTheLineAndSeesEvery0xFFDoubled) {
  Bytes heard;
  CFakeGateway gateway([&](int fd) {
    heard = ReadUntil(fd, {0x41, 0xFF, 0xFF, 0x42});
    const Bytes answer{kIac, kDo, kComPort, 0x43, kIac, kIac, 0x44};
    ::write(fd, answer.data(), answer.size());
  });
  OpenAttempt attempt;
  auto port = OpenNetworkPort("rfc2217://127.0.0.1:" + std::to_string(gateway.Port()), attempt);
  ASSERT_TRUE(port) << OpenFailureReason(attempt);
  LineState state;
  ASSERT_TRUE(port->GetState(state));
  ASSERT_TRUE(ApplySettingsText("baud=57600 parity=N data=8 stop=1", state));
  ASSERT_TRUE(port->SetState(state));
  std::size_t written = 0;
  const Bytes data{0x41, 0xFF, 0x42};
  ASSERT_EQ(port->Write(data, written), IoResult::Done);
  EXPECT_EQ(written, 3u);
  port->SetTimeouts({500, 500, 500, 500, 500});
  std::uint8_t byte = 0;
  Bytes read;
  while (read.size() < 2 && port->FinishRead(byte)) read.push_back(byte);
  EXPECT_EQ(read, (Bytes{0x43, 0xFF}));
  // 57600 8N1, no flow control, in the order the line is set.
  const Bytes expected{kIac, kSb, kComPort, kSetBaudRate, 0, 0, 0xE1, 0, kIac, kSe,
                       kIac, kSb, kComPort, kSetDataSize, 8, kIac, kSe,
                       kIac, kSb, kComPort, kSetParity, 1, kIac, kSe,
                       kIac, kSb, kComPort, kSetStopSize, 1, kIac, kSe,
                       kIac, kSb, kComPort, kSetControl, 1, kIac, kSe};
  EXPECT_NE(std::search(heard.begin(), heard.end(), expected.begin(), expected.end()), heard.end());
  EXPECT_EQ(std::search(heard.begin(), heard.end(), data.begin(), data.end()), heard.end())
      << "a lone 0xFF would have been taken as a Telnet command";
}

TEST(NetworkLine, AReplyInPiecesReachesTheOwnerWithoutWaitingForMore) {
  // The second piece comes while the first is being gathered: taken from
  // the socket with it, it must not then wait for bytes that never come.
  CFakeGateway gateway([](int fd) {
    ReadUntil(fd, {'A', '\r', '\n'});
    for (const std::string_view piece : {"IN1 EDID", " 07\r\n"}) {
      ::write(fd, piece.data(), piece.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ReadUntil(fd, {'X'});  // until the port is closed
  });
  test::CWorkFolder work;
  const test::CPortsFile config(work.Path(), "COM40 socket://127.0.0.1:" + std::to_string(gateway.Port()) + "\n");
  ASSERT_TRUE(config.Written());
  struct : CSerialOwner {
    void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t) override {
      if (message == WM_SERIAL_BYTE) text += static_cast<char>(wParam);
    }
    std::string text;
  } owner;
  CSerialChannel channel;
  ASSERT_EQ(channel.Open(&owner, 40, 57600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 1024), 1);
  ASSERT_EQ(channel.StartMonitor(), 1);
  ASSERT_TRUE(test::WaitUntil([&] { return channel.MonitorRunning(); }));
  const std::string_view probe = "\r\nGET STA\r\n";
  ASSERT_NE(channel.QueueWrite({reinterpret_cast<const std::uint8_t*>(probe.data()), probe.size()}), 0u);
  EXPECT_TRUE(test::WaitUntil([&] { return owner.text == "IN1 EDID 07\r\n"; }, std::chrono::milliseconds(1000)))
      << owner.text;
  channel.Close();
}

TEST(NetworkLine, GatewaysThatFailAreSaidByNameAndNothingIsWritten) {
  test::CWorkFolder work;
  test::CSimulatedDevice device({.com = 5, .silent = {6}});
  ASSERT_TRUE(device.Started()) << device.Error();
  // A unit that sends each line in two halves, 2 s apart.
  sim::CSimulator halting({.com = 7, .fast = true, .splitMs = 2000});
  std::string error;
  ASSERT_TRUE(halting.StartThread(error)) << error;
  const auto ports = test::FreeTcpPorts(3);
  const std::string mute = "socket://127.0.0.1:" + std::to_string(ports[0]);
  const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(ports[1]);
  const std::string cut = "socket://127.0.0.1:" + std::to_string(ports[2]);
  // One accepts and the line behind it never answers; nothing listens on
  // the second.
  test::CSer2net gateway(test::Ser2netConnection("mute", "tcp", ports[0], device->PortDir() + "/COM6"), {ports[0]});
  ASSERT_TRUE(gateway.Started()) << gateway.Error();
  const auto read = [](const std::string& line, const std::string& wait) {
    return test::RunShell(std::string(VANTORQ_CTL) + wait + " --port " + line + " read-edid output -o tv.bin");
  };
  // The silent one is waited for the default half second; the refusal
  // gets more, so that a loaded machine fails only a fault.
  const test::Ran silent = read(mute, "");
  EXPECT_EQ(silent.status, 1);
  EXPECT_EQ(silent.err.rfind("vantorq-ctl: " + mute + ": read-edid: no EDID reply within", 0), 0u) << silent.err;
  const test::Ran refused = read(nobody, " --timeout 5");
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.err.rfind("vantorq-ctl: " + nobody + ": cannot open: 127.0.0.1:" + std::to_string(ports[1]) +
                                  " refused the connection", 0),
            0u)
      << refused.err;

  // One that goes away mid-reply: ser2net killed while the unit's answer
  // is half sent.
  test::CSer2net halfway(test::Ser2netConnection("cut", "tcp", ports[2], halting.PortDir() + "/COM7"), {ports[2]});
  ASSERT_TRUE(halfway.Started()) << halfway.Error();
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const int said = ::open("said.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  test::CChild ctl({VANTORQ_CTL, "--timeout", "5", "--port", cut, "read-edid", "output", "-o", "tv.bin"},
                   {null, null, said});
  ::close(null);
  ::close(said);
  ASSERT_TRUE(test::WaitUntil([&] { return halting.LinesBegun() > 0; }, std::chrono::milliseconds(5000)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first half on its way
  halfway.Kill();
  const auto status = ctl.Wait(std::chrono::milliseconds(5000));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  std::string text;
  ASSERT_TRUE(test::ReadFile("said.txt", text));
  // The kernel closes a killed gateway's connections, or resets those with
  // bytes still unread: both are said as the connection's end.
  EXPECT_EQ(text.rfind("vantorq-ctl: " + cut + ": read-edid: the line failed: recv() from " + cut + ": ", 0), 0u)
      << text;
  EXPECT_NE(text.find(" \u2014 is the gateway still on and reachable? Nothing was written.\n"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists("tv.bin"));
}

}  // namespace
}  // namespace vantorq
