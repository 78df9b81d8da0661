#include "cache/GridBlockExtent.h"

#include <algorithm>
#include <cstring>

#include "cache/GridRecordBytes.h"
#include "compress/NebFormat.h"

// Block: u16 magic. 0xFC01: the rest is one zone stream (method byte first). 0xFC02 /
// 0xFC03: u16 zoneCount, i32 valueStart[zoneCount], i32 byteStart[zoneCount], then zone
// streams at byteStart (counted from after the tables), each starting with a u16 and the
// method byte. Zone value counts: method 0 raw and 1 constant: i32 n; method 2: i32 N
// (one-dimensional) or i32 X, Y, Z (three-dimensional).
namespace {

template <class T>
bool load(const unsigned char* p, int64_t bytes, int64_t at, T& out) {
  if (at < 0 || at + static_cast<int64_t>(sizeof(T)) > bytes) return false;
  std::memcpy(&out, p + at, sizeof(T));
  return true;
}

// Values of the zone whose method byte is at `at`; 0 when unreadable or invalid.
int64_t zoneValues(const unsigned char* p, int64_t bytes, int64_t at, int dimension) {
  uint8_t method = 0;
  if (!load(p, bytes, at, method)) return 0;
  if (method == 0 || method == 1 || (method == 2 && dimension == 1)) {
    int32_t n = 0;
    if (!load(p, bytes, at + 1, n) || n < 0) return 0;
    return n;
  }
  if (method == 2) {
    int32_t x = 0, y = 0, z = 0;
    if (!load(p, bytes, at + 1, x) || !load(p, bytes, at + 5, y) || !load(p, bytes, at + 9, z)) return 0;
    if (x < 0 || y < 0 || z < 0) return 0;
    int64_t xy = 0, xyz = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(x), static_cast<int64_t>(y), &xy) ||
        __builtin_mul_overflow(xy, static_cast<int64_t>(z), &xyz)) {
      return INT64_MAX / 2;  // larger than any grid; cannot be added to a start without care
    }
    return xyz;
  }
  return 0;
}

}  // namespace

int64_t GridBlockExtent(const void* block, int64_t bytes, int dimension) {
  const unsigned char* p = static_cast<const unsigned char*>(block);
  uint16_t magic = 0;
  if (!p || !load(p, bytes, 0, magic)) return -1;
  if (magic == NebFormat::kSingleZoneMagic) return zoneValues(p, bytes, 2, dimension);
  if (magic != NebFormat::kZonedMagic && magic != NebFormat::kZonedMagicAlt) return -1;
  uint16_t zones = 0;
  if (!load(p, bytes, 2, zones)) return -1;
  const int64_t tables = 4 + 8 * static_cast<int64_t>(zones);
  if (tables > bytes) return -1;
  int64_t extent = 0;
  for (int64_t i = 0; i < zones; ++i) {
    int32_t valueStart = 0, byteStart = 0;
    load(p, bytes, 4 + 4 * i, valueStart);
    load(p, bytes, 4 + 4 * zones + 4 * i, byteStart);
    if (valueStart < 0 || byteStart < 0) continue;
    const int64_t values = zoneValues(p, bytes, tables + byteStart + 2, dimension);
    extent = std::max(extent, values > INT64_MAX / 2 ? INT64_MAX / 2 : static_cast<int64_t>(valueStart) + values);
  }
  return extent;
}

namespace {

// The bytes of a block in memory, every read bounded by the block.
struct BlockInMemory {
  const unsigned char* p;
  int64_t bytes;
  template <class T>
  bool get(int64_t at, T& out) {
    return load(p, bytes, at, out);
  }
  // n int32 from `at`, which lie within the block.
  void getInts(int64_t at, int64_t n, int32_t* out) { std::memcpy(out, p + at, static_cast<size_t>(4 * n)); }
};

// The bytes of a block inside a frame's grid records, fetched a few at a time: the zone
// table in pieces, a small window around each zone header, never the zone streams.
struct BlockInRecords {
  const GridRecordBytes& records;
  int64_t offset, bytes;
  OSTUtils::OstArray<unsigned char, int64_t> scratch;
  const unsigned char* window = nullptr;
  int64_t windowStart = 0, windowBytes = 0;

  template <class T>
  bool get(int64_t at, T& out) {
    const int64_t size = static_cast<int64_t>(sizeof(T));
    if (at < 0 || at + size > bytes) return false;
    if (!window || at < windowStart || at + size > windowStart + windowBytes) {
      windowBytes = std::min<int64_t>(64, bytes - at);
      window = records.fetch(offset + at, windowBytes, scratch);
      windowStart = at;
      if (!window) return false;
    }
    std::memcpy(&out, window + (at - windowStart), sizeof(T));
    return true;
  }
  // n int32 from `at`, which lie within the block (-1 each when they cannot be read).
  void getInts(int64_t at, int64_t n, int32_t* out) {
    window = nullptr;
    const unsigned char* p = records.fetch(offset + at, 4 * n, scratch);
    if (p) {
      std::memcpy(out, p, static_cast<size_t>(4 * n));
    } else {
      for (int64_t i = 0; i < n; ++i) out[i] = -1;
    }
  }
};

template <class Block>
void describeZone(Block& b, int64_t at, int dimension, GridBlockZones& out) {
  uint8_t method = 0xFF;
  b.get(at, method);
  if (method == 0) {
    ++out.rawZones;
  } else if (method == 1) {
    ++out.constantZones;
  } else if (method == 2) {
    // After the method byte: the extent (one or three i32), f32 scale, f32 offset, i32 base,
    // u8 passes.
    const int64_t scaleAt = at + 1 + 4 * (dimension == 3 ? 3 : 1);
    float scale = 0.0f;
    uint8_t passes = 0;
    if (!b.get(scaleAt, scale) || !b.get(scaleAt + 12, passes)) {
      ++out.otherZones;
      return;
    }
    ++out.quantizedZones;
    const float step = scale != 0.0f ? 1.0f / scale : 0.0f;
    const float size = step < 0.0f ? -step : step;
    if (out.quantizedZones == 1 || size < out.finestStep) out.finestStep = size;
    if (out.quantizedZones == 1 || size > out.coarsestStep) out.coarsestStep = size;
    if (passes > out.maxPasses) out.maxPasses = passes;
  } else {
    ++out.otherZones;
  }
}

template <class Block>
GridBlockZones describeBlock(Block& b, int dimension) {
  GridBlockZones out;
  uint16_t magic = 0;
  if (!b.get(0, magic)) return out;
  if (magic == NebFormat::kSingleZoneMagic) {
    out.readable = true;
    out.zoneCount = 1;
    describeZone(b, 2, dimension, out);
    return out;
  }
  uint16_t zones = 0;
  if ((magic != NebFormat::kZonedMagic && magic != NebFormat::kZonedMagicAlt) || !b.get(2, zones)) return out;
  const int64_t tables = 4 + 8 * static_cast<int64_t>(zones);
  if (tables > b.bytes) return out;
  out.readable = true;
  out.zoneCount = zones;
  const int64_t piece = 4096;
  int32_t byteStarts[piece];
  for (int64_t i = 0; i < zones; ++i) {
    if (i % piece == 0) b.getInts(4 + 4 * zones + 4 * i, std::min<int64_t>(piece, zones - i), byteStarts);
    const int32_t byteStart = byteStarts[i % piece];
    if (byteStart < 0) {
      ++out.otherZones;
      continue;
    }
    describeZone(b, tables + byteStart + 2, dimension, out);
  }
  return out;
}

}  // namespace

GridBlockZones DescribeGridBlockZones(const void* block, int64_t bytes, int dimension) {
  BlockInMemory b{static_cast<const unsigned char*>(block), bytes};
  if (!b.p) return GridBlockZones();
  return describeBlock(b, dimension);
}

GridBlockZones DescribeGridBlockZones(const GridRecordBytes& records, int64_t offset, int64_t bytes, int dimension) {
  BlockInRecords b{records, offset, bytes, {}, nullptr, 0, 0};
  if (bytes < 0) return GridBlockZones();
  return describeBlock(b, dimension);
}

int64_t ZipExpansionBound(int64_t compressedBytes) {
  if (compressedBytes <= 0) return 0;
  if (compressedBytes > INT64_MAX / 1040) return INT64_MAX;
  return compressedBytes * 1040 + 64;
}
