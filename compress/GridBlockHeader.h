// The headers of a grid-compressor block, read in this one place: for the whole-block
// decoder (SGCompressor::DecompressBlock), for the decoder of zones in runs of cells
// (cache/GridSlabDecoder.h), and for what describes blocks without decoding them (the
// stored form a frame shows, the extent an old-style particle block is checked against).
//
// Block header:
//   u16 magic   0xFC01: the block is one zone stream; its method byte follows the magic
//               0xFC02 / 0xFC03: zoned, read identically
//   u16 zoneCount
//   i32 valueStart[zoneCount], i32 byteStart[zoneCount]   (byteStart counts from the byte
//                                                          after this table)
// A decoder needs the table non-decreasing, valueStart < outCount and byteStart < the
// bytes after the table; the ends of the last zone are outCount and the end of the block.
// A description takes the table as it stands.
//
// Zone header, at the zone's method byte (after the zone's own u16 magic, which a zoned
// block's zones carry unchecked):
//   u8 method  0 raw:       i32 n                     (n floats follow)
//              1 constant:  i32 n; f32 v
//              2 quantized: i32 N (one-dimensional) or i32 X, Y, Z (three-dimensional);
//                           f32 scale; f32 offset; i32 base; u8 passes   (coded sequence follows)
#pragma once

#include <cstdint>
#include <functional>

#include "ostutils/OstArray.h"

namespace OSTUtils {

// One zone of a block. Offsets count from the block's first byte; the zone's method byte
// lies at streamStart + skip (a zoned block's zones begin with an unchecked u16).
struct ZoneSpan {
  int64_t valueStart = 0, valueEnd = 0;
  int64_t streamStart = 0, streamEnd = 0;
  int skip = 0;
};

}  // namespace OSTUtils

OST_BITWISE_RELOCATABLE(OSTUtils::ZoneSpan);

namespace OSTUtils {

// Bytes of the block header given its first four bytes (fewer when the block is shorter):
// 2 for a single-zone block, 4 + 8 * zoneCount for a zoned one, 0 when the block is too
// short for them or its magic unknown (ReadZoneTable then says why).
int64_t ZoneTableBytes(const unsigned char* first, int64_t availableBytes);

// Reads the header `head` (ZoneTableBytes of it) of a block of availableBytes decoding to
// outCount values into `zones` (one span for a single-zone block). False, with the
// decoder's message, for a block that is too short, an unknown magic or an invalid table.
bool ReadZoneTable(const unsigned char* head, int64_t availableBytes, int64_t outCount, OstArray<ZoneSpan, int>& zones);

// A zone's header as far as it lies within its stream.
struct ZoneHeader {
  int method = -1;        // -1: the stream ends before the method byte
  bool counted = false;   // the count (n, N, or X, Y and Z) lies within the stream
  bool complete = false;  // so does every field of the method's header
  int bytes = 0;          // the method's header after the method byte: 4, 8, 17 or 25; 0 unknown
  int64_t extent[3] = {0, 1, 1};  // n or N in extent[0]; X, Y, Z
  float value = 0.0f;             // constant zones
  float scale = 0.0f, offset = 0.0f;
  int32_t base = 0;
  int passes = 0;
};

// The header of a zone whose method byte is at p, with `bytes` bytes of stream from there
// (none when bytes <= 0). `dimension` (1 or 3) selects the quantized layout.
void ReadZoneHeader(const unsigned char* p, int64_t bytes, int dimension, ZoneHeader& out);

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

// Gives `count` bytes of a block from byte `at` (within the block), or null when they
// cannot be read; the pointer is used before the next call only.
typedef std::function<const unsigned char*(int64_t at, int64_t count)> BlockBytes;

// Reads the zone headers of a block of `bytes` bytes; `dimension` (1 or 3) selects the
// quantized zone header layout. Every read is bounded by `bytes`; the zone streams are not
// read, so a block left in its file costs its table and a few bytes per zone.
GridBlockZones DescribeGridBlockZones(const BlockBytes& block, int64_t bytes, int dimension);
GridBlockZones DescribeGridBlockZones(const void* block, int64_t bytes, int dimension);

// End of the furthest zone of a block (zone start + the zone's value count), or -1 when
// the block header cannot be read. Zones whose table entries are negative, or whose
// method is unknown or count unreadable, count as empty.
int64_t GridBlockExtent(const void* block, int64_t bytes, int dimension);

}  // namespace OSTUtils
