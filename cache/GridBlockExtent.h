// How many values a stored grid channel claims to cover, read from its block headers only.
//
// A grid record is decoded into a buffer of nx*ny*nz cells. The cell count comes from the
// tag-3 header, the block from the record: a damaged size must not make a small record
// allocate gigabytes. A complete block accounts for every cell, so a frame whose cell count
// exceeds what its block covers is refused before the buffer is made.
#pragma once

#include <cstdint>

// End of the furthest zone of a grid-compressor block (zone start + zone value count), or
// -1 when the block header cannot be read. `dimension` (1 or 3) selects the quantized zone
// header layout. Zones with an unknown method count as empty.
int64_t GridBlockExtent(const void* block, int64_t bytes, int dimension);

// Upper bound of the bytes a zlib stream of `compressedBytes` can inflate to (deflate
// cannot expand by more than 1032:1).
int64_t ZipExpansionBound(int64_t compressedBytes);
