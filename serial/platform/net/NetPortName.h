#pragma once
// Port names of serial device servers: "rfc2217://HOST:PORT" (Telnet with the COM-PORT-OPTION, which
// carries the line settings to the server's port) or "tcp://HOST:PORT" (the bytes alone). HOST is a name,
// an IPv4 address or an IPv6 address in brackets. The "\\.\" the port puts in front is dropped first.
#include <cstdint>
#include <string>

enum class TNetProtocol { Raw, Rfc2217 };

struct TNetAddress {
  TNetProtocol Protocol = TNetProtocol::Raw;
  std::string Host;  // without the brackets of an IPv6 address
  uint16_t Port = 0;
};

// Whether the name is meant for a serial device server (it begins with one of the two schemes, in any
// letter case); such a name never reaches the local backend, even when it is malformed.
bool IsNetPortName(const std::string& name);
// The address of a server name; false for a malformed one.
bool ParseNetPortName(const std::string& name, TNetAddress& address);
