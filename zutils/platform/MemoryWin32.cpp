#include "zutils/platform/Memory.h"
#include "zutils/platform/Kernel32.h"

namespace ZUtils {
namespace platform {

// Windows backs ordinary heap memory with small pages only; large pages need a privilege
// and VirtualAlloc of their own, so the advice has nothing to ask for.
void adviseLargeBlock(void* p, size_t bytes) {
  (void)p;
  (void)bytes;
}

uint64_t physicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return static_cast<uint64_t>(status.ullTotalPhys);
}

// The Windows heap keeps what it can reuse by itself.
void keepFreedHeapMemory() {}

}  // namespace platform
}  // namespace ZUtils
