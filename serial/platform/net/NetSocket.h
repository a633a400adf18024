#pragma once
// The few socket calls the network backend makes, behind one interface so the backend reads the same over
// POSIX sockets and Winsock. Error numbers are the system's own (errno, or WSAGetLastError), as
// GetLastError reports them for the port's error texts.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/StreamComDevice.h"

// One resolved address of a server.
struct TNetEndpoint {
  std::vector<uint8_t> Address;  // a sockaddr of the system's own layout
  int Family = 0;
};

namespace NetError {
// The reason for a connection that the server ended in order; a reset or an error gives its own.
uint32_t ConnectionClosed();
uint32_t TimedOut();
// The server refused the COM-PORT-OPTION, so the line settings cannot reach its port.
uint32_t NotSupported();
// A resolver's failure (getaddrinfo's code, 0 for "no address at all") as the system's error number.
uint32_t Resolver(int code);
}  // namespace NetError

// Readies the system's sockets once (Winsock wants it); 0 or the error.
uint32_t NetStartup();

// Resolves a host (a name or an address) and port: the addresses to try, or the error.
uint32_t ResolveEndpoints(const std::string& host, uint16_t port, bool numericOnly,
                          std::vector<TNetEndpoint>& endpoints);
// Whether `host` is an address already (so resolving it asks nobody).
bool IsNumericHost(const std::string& host);

// A connected, non-blocking stream socket.
class TNetSocket {
 public:
  TNetSocket();
  ~TNetSocket();
  TNetSocket(const TNetSocket&) = delete;
  TNetSocket& operator=(const TNetSocket&) = delete;

  // Connects to `endpoint` by `deadline`; 0, or the error (TimedOut when the deadline passes).
  uint32_t Connect(const TNetEndpoint& endpoint, std::chrono::steady_clock::time_point deadline);
  bool Connected() const;

  // Up to `count` bytes: the number moved, 0 when the call would block, -1 with `error`. Receive reports
  // the server's orderly end as -1 with ConnectionClosed.
  int64_t Send(const uint8_t* bytes, size_t count, uint32_t& error);
  int64_t Receive(uint8_t* bytes, size_t count, uint32_t& error);
  // Waits for the socket and the two events of the stream device.
  TStreamComDevice::TStreamWait Wait(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop, int timeoutMs);
  uint32_t Close();

  // Events of the kind the waits take, from the backend of this system.
  static std::unique_ptr<TPlatformEvent> NewEvent(bool manualReset = true);
  static bool EventIsSet(TPlatformEvent& event);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};
