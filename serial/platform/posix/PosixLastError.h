#pragma once
// The calling thread's last error for the POSIX backend: errno values, plus ERROR_IO_PENDING for an
// overlapped operation that has been started.
#include <cstdint>

void SetPosixLastError(uint32_t error);
uint32_t PosixLastError();
