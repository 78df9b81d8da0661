#include "zutils/DefaultThreadCount.h"

#include <atomic>
#include <climits>
#include <cstdlib>

#include "zutils/platform/Affinity.h"
#include "zutils/platform/Cpu.h"

namespace ZUtils {

int leadingInteger(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long v = 0;
  while (*p >= '0' && *p <= '9') {
    if (v <= INT_MAX) v = v * 10 + (*p - '0');  // keeps growing past INT_MAX only once
    ++p;
  }
  if (v > INT_MAX) v = negative ? static_cast<long long>(INT_MAX) + 1 : INT_MAX;
  return static_cast<int>(negative ? -v : v);
}

bool threadAffinityEnabled(const char* useAffinity) { return useAffinity == nullptr || leadingInteger(useAffinity) != 0; }

int computeDefaultThreadCount(const char* numThreads, const char* useAffinity) {
  const int fixed = leadingInteger(numThreads);
  if (fixed > 0) return fixed;
  if (threadAffinityEnabled(useAffinity)) {
    // Every processor this process may run on, on every node.
    platform::CpuMask mask;
    if (platform::processAffinityMask(&mask)) {
      const int n = mask.count();
      if (n > 0) return n;
    }
  }
  return platform::onlineProcessorCount();
}

namespace {
std::atomic<int> setCount{0};
}  // namespace

void setDefaultThreadCount(int count) { setCount.store(count > 0 ? count : 0, std::memory_order_relaxed); }

int defaultThreadCount() {
  const int set = setCount.load(std::memory_order_relaxed);
  if (set > 0) return set;
  static const int count = computeDefaultThreadCount(std::getenv("QARN_NUM_THREADS"), std::getenv("QARN_USE_THREAD_AFFINITY"));
  return count;
}

}  // namespace ZUtils
