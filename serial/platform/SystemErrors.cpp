#include "serial/platform/SystemErrors.h"

#ifdef _WIN32
#include <windows.h>

namespace SystemError {
const uint32_t BadHandle = ERROR_INVALID_HANDLE;
const uint32_t Cancelled = ERROR_OPERATION_ABORTED;
const uint32_t InvalidArgument = ERROR_INVALID_PARAMETER;
const uint32_t Incomplete = ERROR_IO_INCOMPLETE;
const uint32_t Busy = ERROR_BUSY;
}  // namespace SystemError

void SetLastSystemError(uint32_t error) { ::SetLastError(error); }
uint32_t LastSystemError() { return ::GetLastError(); }

#else
#include <cerrno>

#include "serial/platform/posix/PosixLastError.h"

namespace SystemError {
const uint32_t BadHandle = EBADF;
const uint32_t Cancelled = ECANCELED;
const uint32_t InvalidArgument = EINVAL;
const uint32_t Incomplete = EINPROGRESS;
const uint32_t Busy = EBUSY;
}  // namespace SystemError

void SetLastSystemError(uint32_t error) { SetPosixLastError(error); }
uint32_t LastSystemError() { return PosixLastError(); }
#endif
