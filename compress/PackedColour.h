// The packed colour grid record: one native 32-bit word 0x00RRGGBB per cell (the inflated
// zip payload of grid channel 18), split into three float channels.
#pragma once

#include <cstdint>

namespace OSTUtils {

// One pass over words[0 .. cells-1]: red[i] = ((w >> 16) & 0xFF) * scale, green from bits
// 8..15, blue from bits 0..7, each a single-precision product. A null output is skipped.
// Large arrays are split into one contiguous piece per job of the current thread manager
// (the outputs are usually fresh memory, whose first-touch page faults then run in
// parallel too).
void UnpackColourWords(const uint32_t* words, int64_t cells, float scale, float* red, float* green, float* blue);

}  // namespace OSTUtils
