// Large blocks kept for reuse.
//
// Channel buffers are tens to hundreds of MiB. A host that plays a sequence back, and the
// converters, free one frame's buffers and then allocate the next frame's, of the same
// sizes. Pages fresh from the system are zeroed by the kernel on first touch, which on the
// virtual machines studios render on runs at 1 to 3 GB/s, against 8 to 10 GB/s for
// writing pages the process already holds: for a 256^3 frame that zeroing was about half
// of the decode time. So large blocks that are freed are kept, up to a total, and handed
// out again for requests of exactly the same size.
//
// Blocks are storage of OstArray (OstArray.h) of platform::kLargeBlockBytes or more,
// aligned to platform::kLargeBlockAlignment and advised for large pages. A kept block still
// holds its old contents: callers that need zeros fill it (channel buffers always do).
//
// The total kept is bounded: by default physical memory / 8, at most 2 GiB and at most half
// the memory budget (MemoryLimit.h); NEB_BLOCK_CACHE_MB (a decimal number of MiB, 0 turns
// the cache off) replaces it, read once, on first use. When a freed block would pass the
// total, the oldest kept blocks are released first; a block larger than the total is
// released at once.
//
// Kept blocks stay counted in the memory budget: a fresh block takes its bytes from the
// budget, a reused one already holds them, and the bytes go back when a block is really
// freed. A request over the budget first has the cache release its blocks
// (releaseLargeBlocksFor).
#pragma once

#include <cstddef>
#include <cstdint>

#include "zutils/PluginExport.h"

namespace OSTUtils {

// A block of `bytes` (kLargeBlockBytes or more): a kept one of exactly that size, else a
// fresh one whose bytes it takes from the memory budget. Null when the budget refuses them
// (reported) or the heap is exhausted. Called from OstArray's inline growth, hence also
// from plug-ins.
NEB_PLUGIN_API void* takeLargeBlock(size_t bytes);

// Frees a block from takeLargeBlock of `bytes` (giving its bytes back to the budget), or
// keeps it for reuse. Null is fine.
NEB_PLUGIN_API void giveLargeBlock(void* block, size_t bytes);

// The most the cache keeps, and what it keeps now, in bytes.
uint64_t largeBlockCacheLimit();
uint64_t largeBlockCacheBytes();

// Replaces the total (0 turns the cache off); kept blocks over it are released at once.
void setLargeBlockCacheLimit(uint64_t bytes);

// Releases kept blocks, oldest first, until a request of `bytes` fits under `budget` or
// nothing is kept. For reserveMemory (MemoryLimit.h).
void releaseLargeBlocksFor(uint64_t bytes, uint64_t budget);

}  // namespace OSTUtils
