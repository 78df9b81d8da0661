// How many frames may be converted at once without exceeding the physical memory or the
// library's memory budget.
#pragma once

#include <cstdint>

#include <vector>

#include "tools/neb2vdb/GridNaming.h"

class INeb;
class GridRecordBytes;
class OstraneFrameData;

namespace Neb2Vdb {

// Peak bytes of converting `frame`: its decoded channels, the trees built from them (a
// dense tree is as large as its channel; the sparse ones are never larger), the
// compressed bytes the file writer holds, and the particles with their copies.
int64_t estimateFramePeak(INeb& frame);

// Peak bytes of converting a nebu2 frame slab by slab from its records: the trees of the
// planned grids (the cells their zone tables say may vary, at 4 bytes a component and a
// quarter more for leaf masks and nodes; every cell when dense), the slab buffers, the
// compressed bytes the file writer holds, the particles with their copies and a fixed
// allowance. Nothing is decoded.
int64_t estimateStreamedPeak(OstraneFrameData& frame, const GridRecordBytes& records,
                             const std::vector<GridPlan>& plans, bool dense);

// min(cores, frames, what fits into 3/4 of `memoryBytes` at `framePeak` each), at least
// 1. Unknown memory (0) bounds nothing. The cores are the process's default thread count
// (zutils/DefaultThreadCount.h: the CPUs of its affinity mask, what a farm's scheduler
// granted); the memory is the smaller of zutils' physicalMemoryBytes() and the library's
// memory budget (ostutils/MemoryLimit.h), which the frames in flight share: the peak
// estimate covers everything the budget counts of a frame, so frames planned to fit do
// not refuse each other.
int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t memoryBytes);

}  // namespace Neb2Vdb
