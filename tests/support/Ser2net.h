#pragma once
// The real serial device server, Debian's ser2net, in front of a terminal: one RFC 2217 accepter and one
// raw TCP accepter, each on a loopback port that was free when it started, so parallel runs never meet.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"

class TSer2net {
 public:
  // Writes its configuration into `directory` and starts it; Up() tells whether it listens.
  TSer2net(const std::string& directory, const std::string& device);
  ~TSer2net();

  bool Up() const { return up_; }
  std::string Rfc2217Name() const;  // rfc2217://127.0.0.1:port
  std::string TcpName() const;      // tcp://127.0.0.1:port
  // What it printed (for messages when something went wrong).
  std::string Output() const;

  // Ends it (SIGTERM), and starts it again on the same ports; Start reports whether it listens.
  void Stop();
  bool Start();
  TChildProcess* Process() { return process_.get(); }

  static bool Installed();
  // "ser2net version N", its output file left in `directory`.
  static std::string Version(const std::string& directory);
  // The configuration, as ser2net reads it; also what the README shows.
  std::string Configuration() const;

 private:
  std::string directory_;
  std::string device_;
  uint16_t rfc2217Port_ = 0;
  uint16_t tcpPort_ = 0;
  bool up_ = false;
  std::unique_ptr<TChildProcess> process_;
};

// Whether something listens on the loopback port (a server that is up, without connecting to it); with
// `pid`, whether that process does.
bool ListeningOnLoopback(uint16_t port, pid_t pid = -1);
// A loopback port that is free now.
uint16_t FreeLoopbackPort();
