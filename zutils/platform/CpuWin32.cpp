#include "zutils/platform/Cpu.h"
#include "zutils/platform/Kernel32.h"

namespace ZUtils {
namespace platform {

int onlineProcessorCount() {
  const Kernel32& k = kernel32();
  if (k.GetActiveProcessorCount) {
    // ALL_PROCESSOR_GROUPS: every group, not only the caller's (at most 64 processors).
    const DWORD n = k.GetActiveProcessorCount(0xffff);
    if (n >= 1) return n > (1u << 20) ? 1 << 20 : static_cast<int>(n);
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors >= 1 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

int systemNumaNodeMasks(CpuMask* masks, int maxNodes) {
  if (!masks || maxNodes <= 0) return -1;
  const Kernel32& k = kernel32();
  if (!k.GetNumaHighestNodeNumber || !k.GetNumaNodeProcessorMaskEx) return -1;
  ULONG highest = 0;
  if (!k.GetNumaHighestNodeNumber(&highest)) return -1;
  if (highest >= static_cast<ULONG>(maxNodes) || highest > 0xffff) return -1;
  const int count = static_cast<int>(highest) + 1;
  for (int node = 0; node < count; ++node) {
    GROUP_AFFINITY affinity{};
    if (!k.GetNumaNodeProcessorMaskEx(static_cast<USHORT>(node), &affinity)) return -1;
    if (affinity.Group >= CpuMask::kWords) return -1;
    masks[node].clear();
    masks[node].bits[affinity.Group] = static_cast<uint64_t>(affinity.Mask);
  }
  return count;
}

}  // namespace platform
}  // namespace ZUtils
