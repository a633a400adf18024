// orvel-unitsim as the program and the demo meet it: a separate process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "UnitSimTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WireTraceFile.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Ready(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

// orvel-unitsim in a process of its own, what it prints kept in a file of the test's directory.
class TUnitSim {
 public:
  TUnitSim(const std::string& dir, std::vector<std::string> args)
      : process_({BinDir() + "/orvel-unitsim", std::move(args), "", {},
                  dir + "/output-" + std::to_string(++started_) + ".txt"}) {}

  // The first line it printed, or "" if it ends first without one.
  std::string FirstLine() {
    WaitUntil([&] { return process_.Output().find('\n') != std::string::npos || !process_.Running(); },
              std::chrono::seconds(10));
    const std::string text = process_.Output();
    const auto end = text.find('\n');
    return end == std::string::npos ? "" : text.substr(0, end);
  }
  std::string Errors() { return process_.Output(); }
  void Signal(int signal) { process_.Signal(signal); }
  // Its exit status; -1 when a signal ended it, -2 when it is still running after ten seconds.
  int Wait() {
    if (!process_.WaitForExit(std::chrono::seconds(10))) return -2;
    return process_.Exited() ? process_.ExitCode() : -1;
  }

 private:
  static inline int started_ = 0;
  TChildProcess process_;
};

// The port as a program opens it: exclusive, raw, 38400 8N1.
int OpenPort(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  ioctl(fd, TIOCEXCL);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B38400);
  t.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

void ClosePort(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

std::vector<uint8_t> Exchange(int fd, const std::vector<uint8_t>& request, size_t replyLength) {
  EXPECT_EQ(write(fd, request.data(), request.size()), ssize_t(request.size()));
  std::vector<uint8_t> reply;
  uint8_t buffer[64];
  while (reply.size() < replyLength && Ready(fd, 5'000)) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.insert(reply.end(), buffer, buffer + n);
  }
  return reply;
}

struct UnitSimProgramTest : ::testing::Test {
  TScratchDirectory scratch{false};
  std::string dir = scratch.Path();
};

TEST_F(UnitSimProgramTest, ServesAPortThatIsClosedAndOpenedAgainAndTracesEveryFrame) {
  const std::string link = dir + "/port", trace = dir + "/trace.jsonl", state = dir + "/state.txt";
  symlink("/dev/null-gone", link.c_str());  // a stale link from an earlier run
  TUnitSim sim(dir, {"--units", "3", "--link", link, "--trace", trace, "--state", state});
  const std::string slave = sim.FirstLine();
  ASSERT_FALSE(slave.empty()) << sim.Errors();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(slave, target);

  int fd = OpenPort(link);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, Identify(3), 11), Identify(3));
  ClosePort(fd);

  fd = OpenPort(link);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, Select(3, 0x4E), 11), BuildFrame(3, cmdSelect, {}));
  EXPECT_EQ(Exchange(fd, Write(3, 0x01), 11), BuildFrame(3, cmdWrite, {}));
  EXPECT_EQ(Exchange(fd, Read(3, 1), 12), BuildFrame(3, cmdRead, {0x01}));
  ClosePort(fd);

  sim.Signal(SIGUSR1);
  for (int i = 0; i < 500 && Slurp(state).find("0x4E = 0x01") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(Slurp(state).find("0x4E = 0x01  # K1 colour bars"), std::string::npos);

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link went with the program

  const auto frames = ReadWireTrace(trace);
  ASSERT_EQ(frames.size(), 8u);
  EXPECT_TRUE(frames[0].FromHost());
  EXPECT_EQ(frames[0].Kind, "frame");
  EXPECT_EQ(frames[0].Bytes, Identify(3));
  EXPECT_EQ(frames[7].From, "units");
  EXPECT_EQ(frames[7].Data, std::vector<uint8_t>{0x01});
  EXPECT_EQ(frames[7].CrcOk, true);
}

TEST_F(UnitSimProgramTest, AnUnaddressedUnitMovesToTheAddressItIsGivenAndTheStateShowsItThere) {
  const std::string link = dir + "/port", state = dir + "/state.txt";
  TUnitSim sim(dir, {"--units", "0", "--link", link, "--state", state});
  ASSERT_FALSE(sim.FirstLine().empty()) << sim.Errors();
  const int fd = OpenPort(link);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, Identify(0), 11), Identify(0));
  const auto setAddress = BuildFrame(0, cmdSetAddress, {5});
  ASSERT_EQ(HexBytes(setAddress), "E2 E4 05 00 FF 00 08 00 01 05 39 5C");
  EXPECT_EQ(Exchange(fd, setAddress, 11), BuildFrame(0, cmdSetAddress, {}));

  // From now on the unit is at 5 for every kind of request, and no longer at 0.
  EXPECT_EQ(Exchange(fd, Identify(5), 11), Identify(5));
  EXPECT_EQ(Exchange(fd, Select(5, 0x6C), 11), BuildFrame(5, cmdSelect, {}));
  EXPECT_EQ(Exchange(fd, Write(5, 0x02), 11), BuildFrame(5, cmdWrite, {}));
  EXPECT_EQ(Exchange(fd, Read(5, 1), 12), BuildFrame(5, cmdRead, {0x02}));
  ASSERT_EQ(write(fd, Identify(0).data(), Identify(0).size()), ssize_t(Identify(0).size()));
  EXPECT_FALSE(Ready(fd, 300)) << "a unit that has its address still answered at 0";
  ClosePort(fd);

  sim.Signal(SIGUSR1);
  for (int i = 0; i < 500 && Slurp(state).find("unit 5") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string text = Slurp(state);
  EXPECT_NE(text.find("\nunit 5\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("\nunit 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("0x6C = 0x02"), std::string::npos);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(UnitSimProgramTest, BadInputStopsWithExitCodeTwoAndTouchesNothing) {
  {
    TUnitSim sim(dir, {"--units", "3", "--silent", "9"});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find("--silent 9: there is no unit at address 9"), std::string::npos);
  }
  const std::string registers = dir + "/units.txt";
  std::ofstream(registers) << "unit 3\n0x4E = 300\n";
  {
    TUnitSim sim(dir, {"--registers", registers});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find(registers + ":2: register value out of range"), std::string::npos);
  }
  const std::string precious = dir + "/precious";
  std::ofstream(precious) << "keep me";
  {
    TUnitSim sim(dir, {"--link", precious});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find("refusing to replace"), std::string::npos);
  }
  EXPECT_EQ(Slurp(precious), "keep me");
  {
    TUnitSim sim(dir, {"--help"});
    EXPECT_NE(sim.FirstLine().find("Usage: orvel-unitsim"), std::string::npos);
    EXPECT_EQ(sim.Wait(), 0);
  }
}

}  // namespace
