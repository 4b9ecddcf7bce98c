#include "thread_priority.h"

#ifdef _WIN32
#include <windows.h>

void LowerThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

#else
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

void LowerThreadPriority() {
  int policy = SCHED_OTHER;
  sched_param parameters{};
  if (pthread_getschedparam(pthread_self(), &policy, &parameters) == 0 && policy != SCHED_OTHER) {
    parameters.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameters);
  }
  // On Linux a nice level belongs to the thread (its task id).
  const id_t thread = static_cast<id_t>(gettid());
  setpriority(PRIO_PROCESS, thread, getpriority(PRIO_PROCESS, thread) + BackgroundNiceLevels);
}
#endif
