#pragma once
// A manual-reset or auto-reset event of Windows, for every backend that waits on Windows.
// The interface comes first: its constants must be parsed before the system's macros of the same names.
#include "serial/platform/ComPlatform.h"

#include <windows.h>
#undef CreateFile
#undef CreateEvent

class TWin32Event : public TPlatformEvent {
 public:
  explicit TWin32Event(HANDLE handle) : Handle(handle) {}
  ~TWin32Event() override { ::CloseHandle(Handle); }
  TWin32Event(const TWin32Event&) = delete;
  TWin32Event& operator=(const TWin32Event&) = delete;
  void Set() override { ::SetEvent(Handle); }
  void Reset() override { ::ResetEvent(Handle); }
  bool IsSet() const { return ::WaitForSingleObject(Handle, 0) == WAIT_OBJECT_0; }
  HANDLE Handle;
};
