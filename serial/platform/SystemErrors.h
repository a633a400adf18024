#pragma once
// The system's own numbers for the failures that code shared by the backends reports, and the calling
// thread's last error (what the platform's GetLastError returns): errno values on POSIX, the Windows
// error numbers on Windows.
#include <cstdint>

namespace SystemError {
extern const uint32_t BadHandle;        // the device was closed
extern const uint32_t Cancelled;        // the transfer was aborted
extern const uint32_t InvalidArgument;  // a request the device cannot carry out
extern const uint32_t Incomplete;       // the operation has not finished yet
extern const uint32_t Busy;             // the device is being opened already
}  // namespace SystemError

void SetLastSystemError(uint32_t error);
uint32_t LastSystemError();
