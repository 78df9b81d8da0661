// How many frames may be converted at once without exceeding the physical memory.
#pragma once

#include <cstdint>

class INeb;

namespace Neb2Vdb {

// Peak bytes of converting `frame`: its decoded channels, the trees built from them (a
// dense tree is as large as its channel; the sparse ones are never larger), the file
// buffer OpenVDB writes through, and the particles with their copies.
int64_t estimateFramePeak(INeb& frame);

// min(cores, frames, what fits into 3/4 of the physical memory at `framePeak` each),
// at least 1. Unknown memory (0) bounds nothing. The cores are the process's default
// thread count (zutils/DefaultThreadCount.h: the CPUs of its affinity mask, what a farm's
// scheduler granted), the memory zutils' physicalMemoryBytes().
int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t physicalBytes);

}  // namespace Neb2Vdb
