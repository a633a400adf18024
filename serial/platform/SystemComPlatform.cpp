// The platform of the system the program runs on: its own serial backend, and serial device servers over
// the network.
#include "serial/platform/DispatchComPlatform.h"
#include "serial/platform/net/NetComPlatform.h"

#ifdef _WIN32
#include "serial/platform/win32/Win32ComPlatform.h"
using TLocalComPlatform = TWin32ComPlatform;
#else
#include "serial/platform/posix/PosixComPlatform.h"
using TLocalComPlatform = TPosixComPlatform;
#endif

TComPlatform& SystemComPlatform() {
  static TLocalComPlatform local;
  static TNetComPlatform net;
  static TDispatchComPlatform platform(local, net);
  return platform;
}
