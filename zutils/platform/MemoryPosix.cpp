#include "zutils/platform/Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ZUtils {
namespace platform {

void adviseLargeBlock(void* p, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  // madvise wants a page-aligned start; advise the whole pages inside the block.
  const uintptr_t page = 4096;
  uintptr_t start = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  const uint64_t p = static_cast<uint64_t>(pages);
  const uint64_t s = static_cast<uint64_t>(pageSize);
  return p > UINT64_MAX / s ? UINT64_MAX : p * s;
}

void keepFreedHeapMemory() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

}  // namespace platform
}  // namespace ZUtils
