#include "zutils/platform/Affinity.h"

#include "zutils/platform/Kernel32.h"

namespace ZUtils {
namespace platform {

// Processor numbering on Windows: a logical processor is (group, bit) with at most 64 per
// group, and CpuMask numbers it group * 64 + bit. That keeps every group's bits in one
// 64-bit word of the mask (kMaxCpus = 1024 covers 16 groups).

namespace {

int activeGroupCount(const Kernel32& k) {
  if (!k.GetActiveProcessorGroupCount) return 1;
  const int n = static_cast<int>(k.GetActiveProcessorGroupCount());
  if (n < 1) return 1;
  return n > CpuMask::kWords ? CpuMask::kWords : n;
}

}  // namespace

bool processAffinityMask(CpuMask* out) {
  if (!out) return false;
  out->clear();
  const Kernel32& k = kernel32();
  DWORD_PTR processMask = 0, systemMask = 0;
  const bool haveMask = GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) != 0;
  // The mask above is of the process's own group; it is 0 when the process spans groups
  // (the default from Windows 11 on). Then every active processor of each group the
  // process belongs to counts.
  if (haveMask && processMask != 0) {
    GROUP_AFFINITY thread{};
    int group = 0;
    if (k.GetThreadGroupAffinity && k.GetThreadGroupAffinity(GetCurrentThread(), &thread)) group = thread.Group;
    if (group >= CpuMask::kWords) return false;
    out->bits[group] = static_cast<uint64_t>(processMask);
    return true;
  }
  if (!k.GetProcessGroupAffinity || !k.GetActiveProcessorCount) return false;
  USHORT groups[CpuMask::kWords];
  USHORT count = CpuMask::kWords;
  if (!k.GetProcessGroupAffinity(GetCurrentProcess(), &count, groups)) return false;
  const int active = activeGroupCount(k);
  for (USHORT i = 0; i < count; ++i) {
    const int g = groups[i];
    if (g >= active) continue;
    const DWORD n = k.GetActiveProcessorCount(static_cast<WORD>(g));
    out->bits[g] = n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
  }
  return !out->empty();
}

bool setCurrentThreadAffinity(const CpuMask& mask) {
  if (mask.empty()) return false;
  // A thread runs in one group: the one holding most of the wanted processors.
  int best = 0;
  int bestCount = -1;
  for (int g = 0; g < CpuMask::kWords; ++g) {
    const int n = __builtin_popcountll(mask.bits[g]);
    if (n > bestCount) {
      best = g;
      bestCount = n;
    }
  }
  const Kernel32& k = kernel32();
  if (k.SetThreadGroupAffinity) {
    GROUP_AFFINITY affinity{};
    affinity.Mask = static_cast<KAFFINITY>(mask.bits[best]);
    affinity.Group = static_cast<WORD>(best);
    return k.SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr) != 0;
  }
  if (best != 0) return false;
  return SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(mask.bits[0])) != 0;
}

}  // namespace platform
}  // namespace ZUtils
