// How many frames may be converted at once without exceeding the physical memory.
#pragma once

#include <cstdint>

class INeb;

namespace Neb2Vdb {

// Peak bytes of converting `frame`: its decoded channels, the trees built from them (a
// dense tree is as large as its channel; the sparse ones are never larger), the file
// buffer OpenVDB writes through, and the particles with their copies.
int64_t estimateFramePeak(INeb& frame);

int64_t physicalMemoryBytes();  // 0 when unknown

// CPUs this process may run on (its affinity mask: what a farm's scheduler granted),
// at least 1.
int availableCores();

// min(cores, frames, what fits into 3/4 of the physical memory at `framePeak` each),
// at least 1. Unknown memory (0) bounds nothing.
int defaultJobCount(int cores, int64_t frames, int64_t framePeak, int64_t physicalBytes);

}  // namespace Neb2Vdb
