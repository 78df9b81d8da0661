// Platform layer: processor sets and thread affinity.
#pragma once

#include <cstdint>

namespace ZUtils {
namespace platform {

// A set of logical processors numbered 0 .. kMaxCpus-1.
struct CpuMask {
  enum { kMaxCpus = 1024, kWords = kMaxCpus / 64 };
  uint64_t bits[kWords];

  CpuMask() { clear(); }
  void clear() {
    for (int i = 0; i < kWords; ++i) bits[i] = 0;
  }
  void set(int cpu) {
    if (cpu >= 0 && cpu < kMaxCpus) bits[cpu >> 6] |= uint64_t(1) << (cpu & 63);
  }
  bool test(int cpu) const { return cpu >= 0 && cpu < kMaxCpus && ((bits[cpu >> 6] >> (cpu & 63)) & 1u); }
  int count() const {
    int n = 0;
    for (int i = 0; i < kWords; ++i) n += __builtin_popcountll(bits[i]);
    return n;
  }
  bool empty() const { return count() == 0; }
  void intersect(const CpuMask& other) {
    for (int i = 0; i < kWords; ++i) bits[i] &= other.bits[i];
  }
};

// The processors this process may run on (the main thread's set on systems where each
// thread has its own). False when the system does not tell.
bool processAffinityMask(CpuMask* out);
// Restricts the calling thread to `mask`. False (thread unchanged) on an empty mask or
// when the system refuses.
bool setCurrentThreadAffinity(const CpuMask& mask);

}  // namespace platform
}  // namespace ZUtils
