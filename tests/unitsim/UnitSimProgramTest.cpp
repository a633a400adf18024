// orvel-unitsim as the program and the demo meet it: a separate process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "UnitSimTestSupport.h"

extern char** environ;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TUnitSim {
 public:
  explicit TUnitSim(std::vector<std::string> args) {
    const std::string program = BinDir() + "/orvel-unitsim";
    args.insert(args.begin(), program);
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0) << program;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~TUnitSim() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  // The first line of standard output, or "" if the program ends first.
  std::string FirstLine() {
    std::string line;
    char c;
    while (Ready(out_, 10'000) && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  std::string Errors() {
    std::string text;
    char buffer[512];
    for (ssize_t n; Ready(err_, 100) && (n = read(err_, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    return text;
  }
  void Signal(int signal) { kill(pid_, signal); }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static bool Ready(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
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
  while (reply.size() < replyLength && TUnitSim::Ready(fd, 5'000)) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.insert(reply.end(), buffer, buffer + n);
  }
  return reply;
}

struct UnitSimProgramTest : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char pattern[] = "/tmp/orvel-unitsim-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
};

TEST_F(UnitSimProgramTest, ServesAPortThatIsClosedAndOpenedAgainAndTracesEveryFrame) {
  const std::string link = dir + "/port", trace = dir + "/trace.jsonl", state = dir + "/state.txt";
  symlink("/dev/null-gone", link.c_str());  // a stale link from an earlier run
  TUnitSim sim({"--units", "3", "--link", link, "--trace", trace, "--state", state});
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

  std::istringstream lines(Slurp(trace));
  std::vector<std::string> frames;
  for (std::string line; std::getline(lines, line);) frames.push_back(line);
  ASSERT_EQ(frames.size(), 8u);
  EXPECT_NE(frames[0].find("\"from\":\"host\",\"kind\":\"frame\",\"bytes\":\"" + HexBytes(Identify(3)) + "\""),
            std::string::npos);
  EXPECT_NE(frames[7].find("\"from\":\"units\""), std::string::npos);
  EXPECT_NE(frames[7].find("\"data\":\"01\",\"crc_ok\":true"), std::string::npos);
}

TEST_F(UnitSimProgramTest, BadInputStopsWithExitCodeTwoAndTouchesNothing) {
  {
    TUnitSim sim({"--units", "3", "--silent", "9"});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find("--silent 9: there is no unit at address 9"), std::string::npos);
  }
  const std::string registers = dir + "/units.txt";
  std::ofstream(registers) << "unit 3\n0x4E = 300\n";
  {
    TUnitSim sim({"--registers", registers});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find(registers + ":2: register value out of range"), std::string::npos);
  }
  const std::string precious = dir + "/precious";
  std::ofstream(precious) << "keep me";
  {
    TUnitSim sim({"--link", precious});
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Errors().find("refusing to replace"), std::string::npos);
  }
  EXPECT_EQ(Slurp(precious), "keep me");
  {
    TUnitSim sim({"--help"});
    EXPECT_NE(sim.FirstLine().find("Usage: orvel-unitsim"), std::string::npos);
    EXPECT_EQ(sim.Wait(), 0);
  }
}

}  // namespace
