// The header of a grid-compressor block, read once for the whole-block decoder and for the
// slab decoder (cache/GridSlabDecoder.h), so both accept and refuse the same blocks with
// the same messages.
//
//   u16 magic   0xFC01: the block is one zone stream; its method byte follows the magic
//               0xFC02 / 0xFC03: zoned, read identically
//   u16 zoneCount
//   i32 valueStart[zoneCount], i32 byteStart[zoneCount]   (byteStart counts from the byte
//                                                          after this table)
// The table must be non-decreasing, valueStart < outCount and byteStart < the bytes after
// the table; the ends of the last zone are outCount and the end of the block.
#pragma once

#include <cstdint>

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
// short or its magic unknown (ReadZoneTable then says why).
int64_t ZoneTableBytes(const unsigned char* first, int64_t availableBytes);

// Reads the header `head` (ZoneTableBytes of it) of a block of availableBytes decoding to
// outCount values into `zones` (one span for a single-zone block). False, with the
// decoder's message, for a block that is too short, an unknown magic or an invalid table.
bool ReadZoneTable(const unsigned char* head, int64_t availableBytes, int64_t outCount, OstArray<ZoneSpan, int>& zones);

}  // namespace OSTUtils
