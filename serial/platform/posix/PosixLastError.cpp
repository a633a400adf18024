#include "serial/platform/posix/PosixLastError.h"

namespace {
thread_local uint32_t lastError = 0;
}

void SetPosixLastError(uint32_t error) { lastError = error; }
uint32_t PosixLastError() { return lastError; }
