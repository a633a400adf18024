// Name resolution: the same call on every system.
#include "serial/platform/net/NetSocket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

bool IsNumericHost(const std::string& host) {
  std::vector<TNetEndpoint> endpoints;
  return ResolveEndpoints(host, 1, true, endpoints) == 0;
}

uint32_t ResolveEndpoints(const std::string& host, uint16_t port, bool numericOnly,
                          std::vector<TNetEndpoint>& endpoints) {
  if (uint32_t error = NetStartup()) return error;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
  addrinfo* list = nullptr;
  const int code = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (code != 0) return NetError::Resolver(code);
  endpoints.clear();
  for (addrinfo* a = list; a; a = a->ai_next) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(a->ai_addr);
    endpoints.push_back({std::vector<uint8_t>(bytes, bytes + a->ai_addrlen), a->ai_family});
  }
  freeaddrinfo(list);
  return endpoints.empty() ? NetError::Resolver(0) : 0;
}
