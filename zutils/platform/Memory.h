// Platform layer: advice on large memory blocks, the size of physical memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zutils/PluginExport.h"

namespace ZUtils {
namespace platform {

// Blocks at least this large are allocated aligned to kLargeBlockAlignment and advised.
constexpr size_t kLargeBlockBytes = size_t(4) << 20;
constexpr size_t kLargeBlockAlignment = size_t(2) << 20;

// Asks the system to back [p, p + bytes) with large pages where it can. Channel buffers
// are tens or hundreds of MiB touched once right after allocation; with 4 KiB pages the
// first touch costs one fault per page (about 11 us each on the target machines, 0.2 s
// per 64 MiB), with 2 MiB pages one per 512. Purely advisory: failures are ignored.
// Called from OstArray's inline growth, hence also from plug-ins.
NEB_PLUGIN_API void adviseLargeBlock(void* p, size_t bytes);

// Bytes of physical memory of the machine (installed, not free), or 0 when the system
// cannot tell. The default of the process-wide allocation limit (ostutils/MemoryLimit.h).
uint64_t physicalMemoryBytes();

// For the converters, which free and allocate trees of the same sizes frame after frame:
// keeps freed heap memory in the process instead of handing it back to the system, so the
// next frame reuses pages already mapped rather than faulting in and clearing new ones
// (glibc: no mmap for large blocks, no trimming). Elsewhere nothing to set.
void keepFreedHeapMemory();

}  // namespace platform
}  // namespace ZUtils
