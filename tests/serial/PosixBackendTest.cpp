#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

#include "serial/ComPort.h"
#include "serial/platform/posix/PosixComPlatform.h"
#include "serial/platform/posix/PosixLineSettings.h"
#include "serial/platform/posix/PosixPortNames.h"
#include "serial/platform/ComTimeouts.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/serial/PtyPair.h"

namespace {

TEST(PosixPortNames, ComNamesAndDevicePathsAndNothingElse) {
  std::string path;
  ASSERT_TRUE(DevicePathForPortName("\\\\.\\COM1", path));
  EXPECT_EQ(path, "/dev/ttyS0");
  ASSERT_TRUE(DevicePathForPortName("\\\\.\\COM256", path));
  EXPECT_EQ(path, "/dev/ttyS255");
  ASSERT_TRUE(DevicePathForPortName("com3", path));
  EXPECT_EQ(path, "/dev/ttyS2");
  ASSERT_TRUE(DevicePathForPortName("\\\\.\\/dev/ttyUSB0", path));
  EXPECT_EQ(path, "/dev/ttyUSB0");
  for (const char* bad : {"\\\\.\\", "", "COM0", "COM257", "COM01", "COM", "COM1x", "COM-1", "LPT1", "ttyS0",
                          "dev/ttyS0", "\\\\.\\COM 1"})
    EXPECT_FALSE(DevicePathForPortName(bad, path)) << bad;
  EXPECT_FALSE(DevicePathForPortName(std::string("/dev/ttyS0\0x", 12), path));
}

TEST(PosixPortNames, AdaptersAreListedUsbFirstInNumericOrder) {
  char pattern[] = "/tmp/orvel-adapters-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  for (const char* name :
       {"ttyUSB10", "ttyACM0", "ttyUSB2", "ttyUSB0", "ttyUSBx", "ttyUSB01", "ttyS0", "ttyACM1"})
    std::ofstream(dir + "/" + name).put('\n');
  EXPECT_EQ(AdapterDevicePaths(dir),
            (std::vector<std::string>{dir + "/ttyUSB0", dir + "/ttyUSB2", dir + "/ttyUSB10", dir + "/ttyACM0",
                                      dir + "/ttyACM1"}));
  std::system(("rm -rf " + dir).c_str());
}

TDcb MainWindowBlock() {
  TDcb d;
  d.BaudRate = 38400;
  d.Flags = 0x0001;
  d.XonLim = d.XoffLim = 256;
  d.ByteSize = 8;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

TEST(PosixLineSettings, TheBlockMapsOntoRawTermios) {
  termios t{};
  TDcb d = MainWindowBlock();
  ASSERT_EQ(TermiosFromDcb(d, t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
  EXPECT_EQ(cfgetispeed(&t), speed_t(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  TModemLineChange lines = ModemLinesFromDcb(d);
  EXPECT_EQ(lines.Raise, 0);
  EXPECT_EQ(lines.Drop, TIOCM_DTR | TIOCM_RTS);

  d.ByteSize = 7;
  d.Parity = 1;
  d.StopBits = 2;
  d.Flags |=
      0x0002 | 0x0004 | 0x0100 | 0x0200 | 0x0010 | 0x1000;  // check, CTS, XON/XOFF both ways, DTR, RTS on
  d.XonChar = 1;
  d.XoffChar = 2;
  ASSERT_EQ(TermiosFromDcb(d, t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), tcflag_t(PARENB | PARODD | CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
  EXPECT_EQ(t.c_cc[VSTART], 1);
  EXPECT_EQ(t.c_cc[VSTOP], 2);
  lines = ModemLinesFromDcb(d);
  EXPECT_EQ(lines.Raise, TIOCM_DTR | TIOCM_RTS);

#ifdef CMSPAR
  d = MainWindowBlock();
  d.Parity = 4;  // space
  ASSERT_EQ(TermiosFromDcb(d, t), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR));
#endif
  d = MainWindowBlock();
  d.ByteSize = 5;
  d.StopBits = 1;  // 1.5 stop bits exist only at five data bits
  EXPECT_EQ(TermiosFromDcb(d, t), 0);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST(PosixLineSettings, WhatTheSystemCannotDoIsRefused) {
  termios t{};
  auto refused = [&](auto change) {
    TDcb d = MainWindowBlock();
    change(d);
    return TermiosFromDcb(d, t) == EINVAL;
  };
  EXPECT_TRUE(refused([](TDcb& d) { d.BaudRate = 14400; }));
  EXPECT_TRUE(refused([](TDcb& d) { d.BaudRate = 0; }));
  EXPECT_TRUE(refused([](TDcb& d) { d.ByteSize = 9; }));
  EXPECT_TRUE(refused([](TDcb& d) { d.Parity = 5; }));
  EXPECT_TRUE(refused([](TDcb& d) { d.StopBits = 1; }));  // 1.5 at eight data bits
  EXPECT_TRUE(refused([](TDcb& d) { d.StopBits = 3; }));
  EXPECT_TRUE(refused([](TDcb& d) { d.Flags |= 0x3000; }));  // RTS toggling
  EXPECT_TRUE(refused([](TDcb& d) { d.Flags |= 0x0020; }));  // DTR handshake
  EXPECT_TRUE(refused([](TDcb& d) { d.Flags |= 0x0008; }));  // DSR flow
}

TEST(PosixTimeouts, ReadWaitsFollowTheTimeoutsRecord) {
  const uint32_t Max = 0xFFFFFFFFu;
  // What is there, at once.
  TReadTimeoutPlan immediate({Max, 0, 0, 0, 0}, 10);
  EXPECT_EQ(immediate.WaitUs(0, 0, 0), 0);
  // The main window's port: no limit for the first byte, then 1 ms of quiet ends the read.
  TReadTimeoutPlan interval({1, 0, 0, 0, 0}, 10);
  EXPECT_EQ(interval.WaitUs(5'000'000, 0, 5'000'000), NoLimit);
  EXPECT_EQ(interval.WaitUs(10, 3, 200), 800);
  EXPECT_EQ(interval.WaitUs(10, 3, 1500), 0);
  // Totals: multiplier times the count plus the constant, from the start of the read.
  TReadTimeoutPlan total({0, 10, 50, 0, 0}, 4);
  EXPECT_EQ(total.WaitUs(0, 0, 0), 90'000);
  EXPECT_EQ(total.WaitUs(100'000, 2, 0), 0);
  // The sooner of interval and total.
  TReadTimeoutPlan both({20, 0, 100, 0, 0}, 4);
  EXPECT_EQ(both.WaitUs(90'000, 1, 0), 10'000);
  EXPECT_EQ(both.WaitUs(10'000, 1, 5'000), 15'000);
  // Everything zero: wait until the request is filled.
  EXPECT_EQ(TReadTimeoutPlan({0, 0, 0, 0, 0}, 4).WaitUs(1'000'000, 2, 1'000'000), NoLimit);
  // MAXDWORD interval and multiplier: up to the constant for the first byte, then return at once.
  TReadTimeoutPlan first({Max, Max, 30, 0, 0}, 4);
  EXPECT_EQ(first.WaitUs(10'000, 0, 10'000), 20'000);
  EXPECT_EQ(first.WaitUs(10'000, 1, 0), 0);

  EXPECT_EQ(WriteTimeoutUs({0, 0, 0, 0, 0}, 100), NoLimit);
  EXPECT_EQ(WriteTimeoutUs({0, 0, 0, 100, 1000}, 3), 1'300'000);
}

// The backend under a port, on a real pseudo-terminal, without an event thread.
struct PosixDevice : ::testing::Test {
  TPtyPair pty;
  TPosixComPlatform platform;
  TComPort port{&platform};
  void SetUp() override {
    ASSERT_TRUE(pty.Valid());
    LoadMainWindowSettings(port);
    port.SetEvents({});
    port.SetPort(pty.SlavePath);
  }
};

// A pseudo-terminal has no line format: it keeps eight data bits without parity and refuses the rest.
TEST_F(PosixDevice, EverySettingTheProgramUsesWorksOnAPseudoTerminal) {
  port.Open();
  ASSERT_TRUE(port.Connected());
  EComPort noLines = Raised([&] { port.ModemSignals(); });  // the port reported them off as it opened
  EXPECT_EQ(noLines.Code, 11);
  EXPECT_EQ(noLines.OsError, ENOTTY);
  EXPECT_EQ(port.PendingInputCount(), 0);
  EXPECT_TRUE(port.LineErrors().Empty());
  port.FlowControl().SetFlowControl(fcHardware);
  port.FlowControl().SetFlowControl(fcSoftware);
  port.FlowControl().SetControlDTR(dtrEnable);
  port.FlowControl().SetControlRTS(rtsEnable);
  port.SetBaudRate(br115200);
  port.SetStopBits(sbTwoStopBits);
  port.Parity().SetCheck(true);
  port.AbortTransfers();
  port.Close();
}

TEST_F(PosixDevice, ASettingTheSystemCannotMakeRaisesItsErrorAndKeepsThePortOpen) {
  port.Open();
  EComPort e = Raised([&] { port.SetBaudRate(br14400); });
  EXPECT_EQ(e.Code, 7);
  EXPECT_EQ(e.OsError, EINVAL);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.BaudRate(), br14400);  // stored; the device keeps its previous settings
  port.Close();
  // Opening with it fails in configuration and leaves the port closed.
  EXPECT_EQ(Raised([&] { port.Open(); }).Code, 7);
  EXPECT_FALSE(port.Connected());
}

TEST_F(PosixDevice, OpenFailuresCarryTheSystemsErrorNumber) {
  port.SetPort("LPT1");
  EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.OsError, ENOENT);
  EXPECT_EQ(std::string(e.what()).rfind("Unable to open com port (errno: 2, ENOENT)\r\nПорт LPT1: ", 0), 0u)
      << e.what();
  port.SetPort("/nonexistent/tty");
  EXPECT_EQ(Raised([&] { port.Open(); }).OsError, ENOENT);
  port.SetPort("/");
  EXPECT_EQ(Raised([&] { port.Open(); }).OsError, EISDIR);
  port.SetPort("/dev/null");  // not a terminal
  EXPECT_EQ(Raised([&] { port.Open(); }).OsError, ENOTTY);
  EXPECT_FALSE(port.Connected());
}

TEST_F(PosixDevice, APortAlreadyInUseIsRefusedWithBusy) {
  port.Open();
  TComPort second(&platform);
  second.SetEvents({});
  second.SetPort(pty.SlavePath);
  EComPort e = Raised([&] { second.Open(); });
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, EBUSY);
  EXPECT_EQ(std::string(e.what()), "Unable to open com port (errno: 16, EBUSY)\r\nПорт " + pty.SlavePath +
                                       " уже открыт другой программой. Закройте её и попробуйте снова.");
  port.Close();
  second.Open();  // released by the close
  EXPECT_TRUE(second.Connected());
}

TEST_F(PosixDevice, ReadsFollowTheTimeouts) {
  port.Open();
  uint8_t buffer[8] = {};
  ASSERT_TRUE(pty.Send({'a', 'b', 'c'}));
  // More than is waiting: the read returns once the line has been quiet for the interval.
  ASSERT_EQ(port.Read(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, buffer + 3), "abc");

  // Nothing waiting: the read waits for the first byte, however long it takes.
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Send({'z'});
  });
  EXPECT_EQ(port.Read(buffer, 1), 1);
  EXPECT_EQ(buffer[0], 'z');
  later.join();

  // With the construction timeouts (MAXDWORD interval) a read returns at once with what there is.
  TComTimeouts immediate;
  port.SetTimeouts(immediate);
  EXPECT_EQ(port.Read(buffer, 8), 0);
}

TEST_F(PosixDevice, WritesReachTheOtherEnd) {
  port.Open();
  const uint8_t frame[] = {0xE2, 0xE4, 0x05, 0x01};
  EXPECT_EQ(port.Write(frame, 4), 4);
  EXPECT_EQ(pty.Take(4), (std::vector<uint8_t>{0xE2, 0xE4, 0x05, 0x01}));
  EXPECT_EQ(port.Write(frame, 0), 0);
}

}  // namespace
