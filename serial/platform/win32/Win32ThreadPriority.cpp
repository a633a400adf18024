#include <windows.h>

#include "serial/platform/ThreadPriority.h"

void SetCurrentThreadPriority(int level) {
  static const int Priorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                   THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                   THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                   THREAD_PRIORITY_TIME_CRITICAL};
  if (level < -3 || level > 3) return;
  ::SetThreadPriority(::GetCurrentThread(), Priorities[level + 3]);
}
