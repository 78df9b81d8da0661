// How many frames may be converted at once without exceeding the physical memory or the
// library's memory budget.
#pragma once

#include <cstdint>

namespace Neb2Vdb {

// min(cores, frames, what fits into 3/4 of `memoryBytes` at `framePeak` each: the
// frame's NebVdb::estimateConversionPeak), at least 1. Unknown memory (0) bounds nothing. The cores are the process's default thread count
// (zutils/DefaultThreadCount.h: the CPUs of its affinity mask, what a farm's scheduler
// granted); the memory is the smaller of zutils' physicalMemoryBytes() and the library's
// memory budget (ostutils/MemoryLimit.h), which the frames in flight share: the peak
// estimate covers everything the budget counts of a frame, so frames planned to fit do
// not refuse each other.
int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t memoryBytes);

}  // namespace Neb2Vdb
