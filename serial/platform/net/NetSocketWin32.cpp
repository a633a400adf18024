// The socket calls over Winsock. Waits put the socket's network events on an event of their own
// (WSAEventSelect) and wait for it together with the stream device's events.
// Our headers come first: their constants must be parsed before the system's macros of the same names.
#include "serial/platform/net/NetSocket.h"
#include "serial/platform/net/NetTuning.h"

#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "serial/platform/win32/Win32Event.h"

namespace NetError {
uint32_t ConnectionClosed() { return WSAECONNRESET; }
uint32_t TimedOut() { return WSAETIMEDOUT; }
uint32_t NotSupported() { return ERROR_NOT_SUPPORTED; }
// getaddrinfo returns Winsock's own numbers.
uint32_t Resolver(int code) { return code ? uint32_t(code) : uint32_t(WSAHOST_NOT_FOUND); }
}  // namespace NetError

uint32_t NetStartup() {
  static const int error = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return uint32_t(error);
}

namespace {

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return int(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}

void SetOption(SOCKET s, int level, int name, int value) {
  setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// A lost server must show as an error, not as silence for ever (see NetTuning).
void Tune(SOCKET s) {
  SetOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
  tcp_keepalive keepAlive{1, ULONG(NetTuning::KeepAliveIdleSeconds * 1000),
                          ULONG(NetTuning::KeepAliveIntervalSeconds * 1000)};
  DWORD returned = 0;
  WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr, nullptr);
#ifdef TCP_MAXRT
  SetOption(s, IPPROTO_TCP, TCP_MAXRT, NetTuning::UnacknowledgedLimitMs / 1000);
#endif
}
}  // namespace

struct TNetSocket::TState {
  SOCKET Socket = INVALID_SOCKET;
  WSAEVENT Event = WSA_INVALID_EVENT;
};

TNetSocket::TNetSocket() : state_(std::make_unique<TState>()) {}

TNetSocket::~TNetSocket() { Close(); }

bool TNetSocket::Connected() const { return state_->Socket != INVALID_SOCKET; }

uint32_t TNetSocket::Connect(const TNetEndpoint& endpoint, std::chrono::steady_clock::time_point deadline) {
  Close();
  if (uint32_t error = NetStartup()) return error;
  SOCKET s = socket(endpoint.Family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return uint32_t(WSAGetLastError());
  auto fail = [s](uint32_t error) {
    closesocket(s);
    return error;
  };
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return fail(uint32_t(WSAGetLastError()));
  if (connect(s, reinterpret_cast<const sockaddr*>(endpoint.Address.data()), int(endpoint.Address.size())) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return fail(uint32_t(error));
    WSAPOLLFD p{s, POLLWRNORM, 0};
    const int n = WSAPoll(&p, 1, MillisecondsUntil(deadline));
    if (n < 0) return fail(uint32_t(WSAGetLastError()));
    if (n == 0) return fail(WSAETIMEDOUT);
    int soError = 0;
    int length = sizeof soError;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
    if (soError != 0) return fail(uint32_t(soError));
  }
  Tune(s);
  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return fail(uint32_t(WSAGetLastError()));
  if (WSAEventSelect(s, event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    const uint32_t error = uint32_t(WSAGetLastError());
    WSACloseEvent(event);
    return fail(error);
  }
  state_->Socket = s;
  state_->Event = event;
  return 0;
}

int64_t TNetSocket::Send(const uint8_t* bytes, size_t count, uint32_t& error) {
  const int n = send(state_->Socket, reinterpret_cast<const char*>(bytes), int(std::min<size_t>(count, 1 << 20)), 0);
  if (n >= 0) return n;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return 0;
  error = uint32_t(code);
  return -1;
}

int64_t TNetSocket::Receive(uint8_t* bytes, size_t count, uint32_t& error) {
  const int n = recv(state_->Socket, reinterpret_cast<char*>(bytes), int(std::min<size_t>(count, 1 << 20)), 0);
  if (n > 0) return n;
  if (n == 0) {
    error = NetError::ConnectionClosed();
    return -1;
  }
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return 0;
  error = uint32_t(code);
  return -1;
}

TStreamComDevice::TStreamWait TNetSocket::Wait(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop,
                                               int timeoutMs) {
  TStreamComDevice::TStreamWait seen;
  // What the socket can do now; the network events only say what changed since the last look.
  auto look = [&] {
    WSAPOLLFD p{state_->Socket, SHORT(POLLRDNORM | (forWrite ? POLLWRNORM : 0)), 0};
    if (WSAPoll(&p, 1, 0) < 0) {
      seen.Gone = true;
      seen.GoneError = uint32_t(WSAGetLastError());
      return;
    }
    seen.Readable = p.revents & (POLLRDNORM | POLLHUP);
    seen.Writable = p.revents & POLLWRNORM;
    if (p.revents & (POLLERR | POLLNVAL)) {
      int soError = 0;
      int length = sizeof soError;
      getsockopt(state_->Socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
      seen.Gone = true;
      seen.GoneError = soError ? uint32_t(soError) : NetError::ConnectionClosed();
    }
  };
  auto* wakeEvent = dynamic_cast<TWin32Event*>(&wake);
  auto* stopEvent = dynamic_cast<TWin32Event*>(stop);
  look();
  if (!seen.Readable && !(forWrite && seen.Writable) && !seen.Gone) {
    HANDLE handles[3];
    DWORD count = 0;
    if (stopEvent) handles[count++] = stopEvent->Handle;
    if (wakeEvent) handles[count++] = wakeEvent->Handle;
    handles[count++] = state_->Event;
    WaitForMultipleObjects(count, handles, FALSE, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
    WSANETWORKEVENTS events{};
    WSAEnumNetworkEvents(state_->Socket, state_->Event, &events);
    look();
  }
  seen.Woken = wakeEvent && wakeEvent->IsSet();
  seen.Stopped = stopEvent && stopEvent->IsSet();
  return seen;
}

uint32_t TNetSocket::Close() {
  if (state_->Event != WSA_INVALID_EVENT) {
    WSACloseEvent(state_->Event);
    state_->Event = WSA_INVALID_EVENT;
  }
  const SOCKET s = state_->Socket;
  if (s == INVALID_SOCKET) return 0;
  state_->Socket = INVALID_SOCKET;
  if (closesocket(s) != 0) return uint32_t(WSAGetLastError());
  return 0;
}

std::unique_ptr<TPlatformEvent> TNetSocket::NewEvent(bool manualReset) {
  HANDLE event = ::CreateEventA(nullptr, manualReset, FALSE, nullptr);
  if (!event) return nullptr;
  return std::make_unique<TWin32Event>(event);
}

bool TNetSocket::EventIsSet(TPlatformEvent& event) {
  auto* win32 = dynamic_cast<TWin32Event*>(&event);
  return win32 && win32->IsSet();
}
