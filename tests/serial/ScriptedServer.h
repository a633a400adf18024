#pragma once
// A serial device server played by the test: it listens on a free loopback port, takes one connection,
// and sends and expects bytes as the test says, so every byte the backend sends can be checked.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class TScriptedServer {
 public:
  TScriptedServer();  // listening; Port() is free for this run
  ~TScriptedServer();
  TScriptedServer(const TScriptedServer&) = delete;
  TScriptedServer& operator=(const TScriptedServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Name(const std::string& scheme) const;  // scheme://127.0.0.1:port

  // Waits for the connection; false if none came within `limit`.
  bool Accept(std::chrono::milliseconds limit = std::chrono::seconds(10));
  void Send(const std::vector<uint8_t>& bytes);
  // Exactly `count` bytes, or what came before `limit` passed.
  std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Whatever arrives within `limit` (for "nothing more was sent").
  std::vector<uint8_t> ReceiveFor(std::chrono::milliseconds limit);
  // Ends the connection in order, or with a reset.
  void Close();
  void Reset();
  // Stops listening, so connecting is refused.
  void StopListening();

 private:
  int listener_ = -1;
  int connection_ = -1;
  uint16_t port_ = 0;
};

// A loopback port whose listener never accepts and whose queue is already full, so a connection to it
// neither succeeds nor fails: the other side of a server that does not answer.
class THangingListener {
 public:
  THangingListener();
  ~THangingListener();
  THangingListener(const THangingListener&) = delete;
  THangingListener& operator=(const THangingListener&) = delete;
  uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

// A loopback port nothing listens on (bound and closed again), for refused connections.
uint16_t UnusedLoopbackPort();
