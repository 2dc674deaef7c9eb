#include <gtest/gtest.h>

#include "ComPorts.h"
#include "SerialPort.h"
#include "Support.h"

namespace vantorq {
namespace {

TEST(ComPorts, NamesUseTheLongFormFromTenUp) {
  EXPECT_EQ(ComDeviceName(1), "COM1");
  EXPECT_EQ(ComDeviceName(9), "COM9");
  EXPECT_EQ(ComDeviceName(10), "\\\\.\\COM10");
  EXPECT_EQ(ComDeviceName(99), "\\\\.\\COM99");
  for (unsigned n = 1; n <= 99; ++n) EXPECT_EQ(ComPortFromName(ComDeviceName(n)), n);
  EXPECT_EQ(ComPortFromName("COM"), 0u);
  EXPECT_EQ(ComPortFromName("COM1x"), 0u);
  EXPECT_EQ(ComPortFromName("tty"), 0u);
}

TEST(ComPorts, DefaultTableReachesTheUsualDevices) {
  const struct {
    unsigned port;
    const char* device;
  } cases[] = {
      {1, "/dev/ttyS0"},     {32, "/dev/ttyS31"},   {33, "/dev/ttyUSB0"}, {64, "/dev/ttyUSB31"},
      {65, "/dev/ttyACM0"},  {96, "/dev/ttyACM31"}, {97, "/dev/ttyAMA0"}, {99, "/dev/ttyAMA2"},
      {0, ""},               {100, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultComDevice(c.port), c.device) << c.port;
}

TEST(ComPorts, PortFolderOverridesTheTableWhenSet) {
  {
    test::CScopedEnv env("VANTORQ_PORT_DIR", "/tmp/links");
    EXPECT_EQ(ComDevicePath(5), "/tmp/links/COM5");
    EXPECT_EQ(ComDevicePath(99), "/tmp/links/COM99");
    EXPECT_EQ(ComDevicePath(0), "");
    EXPECT_EQ(ComDevicePath(100), "");
  }
  test::CScopedEnv empty("VANTORQ_PORT_DIR", "");
  EXPECT_EQ(ComDevicePath(33), "/dev/ttyUSB0");
}

TEST(SettingsText, TheConsoleLineIs57600EightNoneOne) {
  LineState s;
  s.flowControl = true;
  ASSERT_TRUE(ApplySettingsText("baud=57600 parity=N data=8 stop=1", s));
  EXPECT_EQ(s.baud, 57600);
  EXPECT_EQ(s.parity, 'N');
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.stopBits, 1);
  EXPECT_FALSE(s.flowControl);
}

TEST(SettingsText, MalformedTextLeavesTheStateAlone) {
  const char* bad[] = {
      "baud=57601 parity=N data=8 stop=1",  // no such rate
      "baud=57600 parity=X data=8 stop=1",  "baud=57600 parity=N data=9 stop=1",
      "baud=57600 parity=N data=8 stop=3",  "baud=57600 parity= data=8 stop=1",
      "baud= parity=N data=8 stop=1",       "speed=57600",
      "baud=57600x",                        "baud",
  };
  for (const char* text : bad) {
    LineState s;
    s.baud = 1234;
    EXPECT_FALSE(ApplySettingsText(text, s)) << text;
    EXPECT_EQ(s.baud, 1234) << text;
  }
  LineState s;
  EXPECT_TRUE(ApplySettingsText("  parity=e   stop=2 ", s));
  EXPECT_EQ(s.parity, 'E');
  EXPECT_EQ(s.stopBits, 2);
}

}  // namespace
}  // namespace vantorq
