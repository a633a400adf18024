#include "tests/support/Ser2net.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/TestEnvironment.h"

using namespace std::chrono_literals;

namespace {
const char* const Program = "/usr/sbin/ser2net";
}

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool ListeningOnLoopback(uint16_t port, pid_t pid) {
  // /proc/net/tcp: "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...",
  // addresses as hex, state 0A for listening.
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (local != wanted || state != "0A") continue;
    if (pid <= 0) return true;
    // Another server (another test's, say) may hold the port that this one then failed to take.
    std::error_code e;
    for (auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", e))
      if (std::filesystem::read_symlink(fd.path(), e).string() == "socket:[" + inode + "]") return true;
  }
  return false;
}

TSer2net::TSer2net(const std::string& directory, const std::string& device)
    : directory_(directory), device_(device) {
  // A port found free can be taken by someone else before ser2net binds it: then it starts again with
  // two others.
  for (int attempt = 0; attempt < 5 && !up_; ++attempt) {
    rfc2217Port_ = FreeLoopbackPort();
    tcpPort_ = FreeLoopbackPort();
    if (rfc2217Port_ == tcpPort_) continue;
    Start();
  }
}

TSer2net::~TSer2net() { Stop(); }

std::string TSer2net::Rfc2217Name() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
std::string TSer2net::TcpName() const { return "tcp://127.0.0.1:" + std::to_string(tcpPort_); }

std::string TSer2net::Configuration() const {
  const std::string line = "  connector: serialdev," + device_ + ",38400n81,local\n";
  return "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(rfc2217Port_) +
         "\n" + line + "connection: &raw\n  accepter: tcp,127.0.0.1," + std::to_string(tcpPort_) + "\n" + line;
}

bool TSer2net::Start() {
  Stop();
  const std::string config = directory_ + "/ser2net.yaml";
  WriteFileBytes(config, Configuration());
  // In the foreground, without UUCP lock files or a system-wide pid file.
  process_ = std::make_unique<TChildProcess>(TChildProcess::TOptions{
      Program, {"-n", "-u", "-P", directory_ + "/ser2net.pid", "-c", config}, directory_, {},
      directory_ + "/ser2net.out"});
  up_ = WaitUntil(
      [&] {
        return !process_->Running() ||
               (ListeningOnLoopback(rfc2217Port_, process_->Pid()) && ListeningOnLoopback(tcpPort_, process_->Pid()));
      },
      10s) &&
        process_->Running();
  return up_;
}

void TSer2net::Stop() {
  up_ = false;
  if (!process_) return;
  process_->Signal(SIGTERM);
  if (!process_->WaitForExit(10s)) process_->Signal(SIGKILL);
  process_->WaitForExit(5s);
}

std::string TSer2net::Output() const { return process_ ? process_->Output() : std::string(); }

bool TSer2net::Installed() { return access(Program, X_OK) == 0; }

std::string TSer2net::Version(const std::string& directory) {
  TChildProcess version({Program, {"-v"}, directory, {}, directory + "/ser2net-version.out"});
  version.WaitForExit(5s);
  std::string text = version.Output();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}
