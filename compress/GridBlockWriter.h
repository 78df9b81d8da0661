// Writes float arrays as SGCompressor blocks (see SGCompressor.h for the layout).
//
// The array is cut into zones; several zones give a zoned block (magic 0xFC02), a single
// zone a single-zone block (0xFC01, the zone stream itself). Zones are compressed in
// parallel on the jobs of an SGCompressor.
//
// Three-dimensional zones: the decoder writes a zone's values contiguously from its
// valueStart, X fastest within the zone's box. For the decoded array to be the grid's own
// x-fastest array, every box spans whole XY slabs: a zone is nx * ny * zoneSlices cells
// (the last one takes the remaining slices), so box order and grid order coincide.
//
// Lossless mode stores every zone raw (method 0), bit for bit, NaNs and signed zeros
// included. Otherwise a zone whose values all lie within 1e-20 of each other, or that
// holds an infinity or a NaN, is stored as a constant (NaN/infinity zones become zeros);
// the rest are quantized to 2^precisionBits steps over the zone's range (precisionBits
// >= 20 stores them raw), differenced diffPasses times and entropy coded. A zone whose
// quantized values would not fit the integer range is stored raw.
#pragma once

#include <cstdint>

#include "ostutils/OstArray.h"

namespace OSTUtils {

struct GridBlockOptions {
  int64_t zoneLength;  // values per zone (1D); also the target zone size in 3D when zoneSlices is 0
  int precisionBits;   // 1 .. 19 quantized, >= 20 raw
  int diffPasses;      // 0 .. 255
  bool lossless;       // raw zones only
  int zoneSlices;      // 3D: XY slabs per zone; 0 = derived from zoneLength
  int threads;         // jobs for compressing: -1 = as many as the thread manager provides
};

// 65536 values per zone (a zone's scratch stays in the cache while it decodes), 16 bits of
// precision, one differencing pass, lossy, slices derived from the zone length.
GridBlockOptions defaultGridBlockOptions();

// Appends one block holding values[0 .. count-1] to `out`. False (with a message, `out`
// unchanged in size) for invalid options, sizes beyond the format's 32-bit fields, or an
// allocation failure.
bool WriteGridBlock1D(const float* values, int64_t count, const GridBlockOptions& opt, OstArray<char, int64_t>& out);

// Appends one block of the nx * ny * nz grid (x fastest), decoded by SGCompressor<3>.
bool WriteGridBlock3D(const float* values, int nx, int ny, int nz, const GridBlockOptions& opt,
                      OstArray<char, int64_t>& out);

}  // namespace OSTUtils
