#include "cache/GridBlockExtent.h"

#include <algorithm>
#include <cstring>

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
  if (magic == 0xFC01) return zoneValues(p, bytes, 2, dimension);
  if (magic != 0xFC02 && magic != 0xFC03) return -1;
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

void describeZone(const unsigned char* p, int64_t bytes, int64_t at, int dimension, GridBlockZones& out) {
  uint8_t method = 0xFF;
  load(p, bytes, at, method);
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
    if (!load(p, bytes, scaleAt, scale) || !load(p, bytes, scaleAt + 12, passes)) {
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

}  // namespace

GridBlockZones DescribeGridBlockZones(const void* block, int64_t bytes, int dimension) {
  GridBlockZones out;
  const unsigned char* p = static_cast<const unsigned char*>(block);
  uint16_t magic = 0;
  if (!p || !load(p, bytes, 0, magic)) return out;
  if (magic == 0xFC01) {
    out.readable = true;
    out.zoneCount = 1;
    describeZone(p, bytes, 2, dimension, out);
    return out;
  }
  uint16_t zones = 0;
  if ((magic != 0xFC02 && magic != 0xFC03) || !load(p, bytes, 2, zones)) return out;
  const int64_t tables = 4 + 8 * static_cast<int64_t>(zones);
  if (tables > bytes) return out;
  out.readable = true;
  out.zoneCount = zones;
  for (int64_t i = 0; i < zones; ++i) {
    int32_t byteStart = -1;
    load(p, bytes, 4 + 4 * zones + 4 * i, byteStart);
    if (byteStart < 0) {
      ++out.otherZones;
      continue;
    }
    describeZone(p, bytes, tables + byteStart + 2, dimension, out);
  }
  return out;
}

int64_t ZipExpansionBound(int64_t compressedBytes) {
  if (compressedBytes <= 0) return 0;
  if (compressedBytes > INT64_MAX / 1040) return INT64_MAX;
  return compressedBytes * 1040 + 64;
}
