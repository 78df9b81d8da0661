// How many values a grid-compressor block claims to cover, read from its block headers only.
//
// Grid channels and chunk-1002 particle channels may cover less than their buffer (the
// rest stays zero); their sizes are bounded by the memory limit alone. The old-style
// compressed particle blocks (tag 13) are decoded at load into a fresh temporary, and a
// block there that does not reach particleCount x words values is refused before anything
// is sized by the count.
#pragma once

#include <cstdint>

class GridRecordBytes;

// End of the furthest zone of a grid-compressor block (zone start + zone value count), or
// -1 when the block header cannot be read. `dimension` (1 or 3) selects the quantized zone
// header layout. Zones with an unknown method count as empty.
int64_t GridBlockExtent(const void* block, int64_t bytes, int dimension);

// What the headers of a grid-compressor block say about its zones, without decoding any.
struct GridBlockZones {
  bool readable = false;  // magic and zone table lie within the block
  int zoneCount = 0;      // 1 for a single-zone block (magic 0xFC01)
  int rawZones = 0;       // method 0
  int constantZones = 0;  // method 1
  int quantizedZones = 0; // method 2
  int otherZones = 0;     // unknown method, or header outside the block
  // Quantization step (1 / scale) of the quantized zones: the finest and the coarsest;
  // a decoded value lies within half a step of what was written. 0 without quantized zones.
  float finestStep = 0.0f;
  float coarsestStep = 0.0f;
  int maxPasses = 0;  // most differencing passes of a quantized zone
};

// Reads the zone headers of a block of `bytes` bytes; `dimension` (1 or 3) selects the
// quantized zone header layout. Every read is bounded by `bytes`.
GridBlockZones DescribeGridBlockZones(const void* block, int64_t bytes, int dimension);
// The same for the block at bytes [offset, offset + bytes) of a frame's grid records,
// fetching the zone table and each zone's header only: the zone streams of a frame left
// in its file are not read.
GridBlockZones DescribeGridBlockZones(const GridRecordBytes& records, int64_t offset, int64_t bytes, int dimension);

// Upper bound of the bytes a zlib stream of `compressedBytes` can inflate to (deflate
// cannot expand by more than 1032:1).
int64_t ZipExpansionBound(int64_t compressedBytes);
