#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "zutils/platform/Affinity.h"

namespace ZUtils {
namespace platform {

static_assert(CpuMask::kMaxCpus <= CPU_SETSIZE, "CpuMask wider than cpu_set_t");

bool processAffinityMask(CpuMask* out) {
  if (!out) return false;
  out->clear();
  cpu_set_t set;
  CPU_ZERO(&set);
  // The main thread's set stands for the process (its id is the process id).
  if (sched_getaffinity(getpid(), sizeof set, &set) != 0) return false;
  for (int cpu = 0; cpu < CpuMask::kMaxCpus; ++cpu) {
    if (CPU_ISSET(cpu, &set)) out->set(cpu);
  }
  return true;
}

bool setCurrentThreadAffinity(const CpuMask& mask) {
  if (mask.empty()) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < CpuMask::kMaxCpus; ++cpu) {
    if (mask.test(cpu)) CPU_SET(cpu, &set);
  }
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

}  // namespace platform
}  // namespace ZUtils
