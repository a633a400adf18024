#include "serial/platform/net/NetPortName.h"

#include <cctype>

namespace {
const std::string DevicePrefix = "\\\\.\\";

struct TScheme {
  const char* Prefix;
  TNetProtocol Protocol;
};
constexpr TScheme Schemes[] = {{"tcp://", TNetProtocol::Raw}, {"rfc2217://", TNetProtocol::Rfc2217}};

std::string WithoutDevicePrefix(const std::string& name) {
  return name.compare(0, DevicePrefix.size(), DevicePrefix) == 0 ? name.substr(DevicePrefix.size()) : name;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

const TScheme* SchemeOf(const std::string& bare) {
  for (const TScheme& scheme : Schemes)
    if (StartsWithIgnoringCase(bare, scheme.Prefix)) return &scheme;
  return nullptr;
}

// Letters, digits and the punctuation of host names and addresses; nothing a resolver would take
// differently from what the operator sees (spaces, control characters, a NUL that cuts the name short).
bool HostCharacter(char c, bool bracketed) {
  if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_') return true;
  return bracketed && (c == ':' || c == '%');
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5 || text[0] == '0') return false;
  unsigned value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (value > 65535) return false;
  port = uint16_t(value);
  return true;
}
}  // namespace

bool IsNetPortName(const std::string& name) { return SchemeOf(WithoutDevicePrefix(name)) != nullptr; }

bool ParseNetPortName(const std::string& name, TNetAddress& address) {
  const std::string bare = WithoutDevicePrefix(name);
  const TScheme* scheme = SchemeOf(bare);
  if (!scheme) return false;
  const std::string rest = bare.substr(std::string(scheme->Prefix).size());
  std::string host, port;
  bool bracketed = false;
  if (!rest.empty() && rest[0] == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
    bracketed = true;
    if (host.find(':') == std::string::npos) return false;  // brackets are for IPv6 addresses
  } else {
    const auto colon = rest.find(':');
    if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) return false;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (host.empty() || host.size() > 253) return false;
  for (char c : host)
    if (!HostCharacter(c, bracketed)) return false;
  TNetAddress parsed;
  if (!ParsePort(port, parsed.Port)) return false;
  parsed.Protocol = scheme->Protocol;
  parsed.Host = host;
  address = parsed;
  return true;
}
