#pragma once
// Which ports exist: COM1 to COM10, then the adapters the system offers beyond them, each kept only when it
// can be opened.
#include <cstdint>
#include <string>
#include <vector>

class TComPlatform;

struct TPortListing {
  std::vector<std::string> Names;         // the ports that opened, in list order
  std::vector<std::string> Descriptions;  // what each of them is (empty when the system does not say)
  // Ports that exist but that the user may not open.
  std::vector<std::string> Denied;
  // The one of them whose refusal is explained, and the system's reason: the first adapter refused, since
  // an adapter is what the operator plugged in, else the first port refused.
  std::string Explained;
  uint32_t DeniedError = 0;
};

TPortListing ProbeComPorts(TComPlatform& platform);
std::vector<std::string> ListComPorts(TComPlatform& platform);

// What the operator is told when no port could be taken at start: that none was found, or, when some
// exist but none could be opened for lack of permission, that and what to do about it.
std::string NoPortFoundText(const TPortListing& ports, TComPlatform& platform);

// The text of the first case.
extern const char* const TextNoPortFound;
// The beginning of the second, followed by the refused ports and the system's explanation.
extern const char* const TextNoPortAccess;
