#include "serial/platform/ThreadPriority.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void SetCurrentThreadPriority(int level) {
#ifdef __linux__
  // Linux keeps a nice value per thread; the normal level leaves the inherited one alone.
  static constexpr int NiceValues[] = {19, 10, 5, 0, -5, -10, -20};
  if (level == 0 || level < -3 || level > 3) return;
  setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), NiceValues[level + 3]);
#else
  (void)level;
#endif
}
