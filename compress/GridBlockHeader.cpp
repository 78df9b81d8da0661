#include "compress/GridBlockHeader.h"

#include <algorithm>
#include <cstring>

#include "compress/NebFormat.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

using NebFormat::kSingleZoneMagic;
using NebFormat::kZonedMagic;
using NebFormat::kZonedMagicAlt;

inline uint16_t loadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int64_t loadI32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
inline float loadF32(const unsigned char* p) {
  const uint32_t bits = static_cast<uint32_t>(loadI32(p));
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace

int64_t ZoneTableBytes(const unsigned char* first, int64_t availableBytes) {
  if (!first || availableBytes < 2) return 0;
  const uint16_t magic = loadU16(first);
  if (magic == kSingleZoneMagic) return 2;
  if ((magic != kZonedMagic && magic != kZonedMagicAlt) || availableBytes < 4) return 0;
  const int64_t bytes = 4 + 8 * static_cast<int64_t>(loadU16(first + 2));
  return bytes <= availableBytes ? bytes : 0;
}

bool ReadZoneTable(const unsigned char* head, int64_t availableBytes, int64_t outCount, OstArray<ZoneSpan, int>& zones) {
  if (!head || availableBytes < 2 || outCount < 0) {
    ZUtils::logReport("SGCompressor: block of %lld bytes is too short or has no output\n",
                      static_cast<long long>(availableBytes));
    return false;
  }
  const int64_t tableEnd = ZoneTableBytes(head, availableBytes);
  if (tableEnd == 0) {
    const uint16_t magic = loadU16(head);
    if (magic != kZonedMagic && magic != kZonedMagicAlt) {
      ZUtils::logReport("SGCompressor: unknown block magic 0x%04X\n", magic);
    } else {
      ZUtils::logReport("SGCompressor: zone table runs past the block\n");
    }
    return false;
  }
  if (tableEnd == 2) {
    if (!zones.SetSize(1)) {
      ZUtils::logReport("[ERROR] SGCompressor: zone list could not be allocated\n");
      return false;
    }
    ZoneSpan& z = zones[0];
    z.valueStart = 0;
    z.valueEnd = outCount;
    z.streamStart = 2;
    z.streamEnd = availableBytes;
    z.skip = 0;
    return true;
  }
  const int zoneCount = static_cast<int>(tableEnd - 4) / 8;
  const unsigned char* valueTable = head + 4;
  const unsigned char* byteTable = valueTable + 4 * zoneCount;
  const int64_t streamBytes = availableBytes - tableEnd;

  // The whole table is checked before any zone is touched: entries inside the block and
  // the output, and non-decreasing so that no two zones share output values (they are
  // written by different jobs at once) or stream bytes.
  int64_t lastValue = 0;
  int64_t lastByte = 0;
  for (int i = 0; i < zoneCount; ++i) {
    const int64_t vs = loadI32(valueTable + 4 * i);
    const int64_t bs = loadI32(byteTable + 4 * i);
    if (bs < 0 || bs >= streamBytes || vs < 0 || vs >= outCount) {
      ZUtils::logReport("SGCompressor: zone %d lies outside the block or the output\n", i);
      return false;
    }
    if (vs < lastValue || bs < lastByte) {
      ZUtils::logReport("SGCompressor: zone %d overlaps the zone before it\n", i);
      return false;
    }
    lastValue = vs;
    lastByte = bs;
  }
  if (!zones.SetSize(zoneCount)) {
    ZUtils::logReport("[ERROR] SGCompressor: zone list could not be allocated\n");
    return false;
  }
  for (int i = 0; i < zoneCount; ++i) {
    ZoneSpan& z = zones[i];
    z.valueStart = loadI32(valueTable + 4 * i);
    z.valueEnd = i + 1 < zoneCount ? loadI32(valueTable + 4 * (i + 1)) : outCount;
    z.streamStart = tableEnd + loadI32(byteTable + 4 * i);
    z.streamEnd = tableEnd + (i + 1 < zoneCount ? loadI32(byteTable + 4 * (i + 1)) : streamBytes);
    // The zone's own magic is skipped unread (files carry other values there).
    z.skip = 2;
  }
  return true;
}

void ReadZoneHeader(const unsigned char* p, int64_t bytes, int dimension, ZoneHeader& out) {
  out = ZoneHeader();
  if (!p || bytes < 1) return;
  out.method = p[0];
  const unsigned char* h = p + 1;
  const int64_t left = bytes - 1;
  switch (out.method) {
    case NebFormat::kZoneRaw:
    case NebFormat::kZoneConstant:
      out.bytes = out.method == NebFormat::kZoneRaw ? 4 : 8;
      out.counted = left >= 4;
      out.complete = left >= out.bytes;
      if (out.counted) out.extent[0] = loadI32(h);
      if (out.complete && out.method == NebFormat::kZoneConstant) out.value = loadF32(h + 4);
      return;
    case NebFormat::kZoneQuantized: {
      const int axes = dimension == 3 ? 3 : 1;
      out.bytes = 4 * axes + 13;
      out.counted = left >= 4 * axes;
      out.complete = left >= out.bytes;
      if (out.counted)
        for (int a = 0; a < axes; ++a) out.extent[a] = loadI32(h + 4 * a);
      if (out.complete) {
        const unsigned char* q = h + 4 * axes;
        out.scale = loadF32(q);
        out.offset = loadF32(q + 4);
        out.base = static_cast<int32_t>(loadI32(q + 8));
        out.passes = q[12];
      }
      return;
    }
    default:
      return;
  }
}

namespace {

// The longest zone header, method byte included.
const int64_t kZoneHeaderBytes = 26;

// Calls visit(valueStart, byteStart, header) for every zone of a block in table order, the
// table taken as it stands; the header of a zone whose byteStart is negative is not read
// (method -1), nor one that lies outside the block. False when the block header itself
// cannot be read.
template <class Visit>
bool forEachZoneHeader(const BlockBytes& block, int64_t bytes, int dimension, Visit visit) {
  const int64_t firstBytes = bytes < 4 ? bytes : 4;
  const unsigned char* first = firstBytes >= 2 ? block(0, firstBytes) : nullptr;
  const int64_t tableEnd = first ? ZoneTableBytes(first, bytes) : 0;
  if (tableEnd == 0) return false;
  auto header = [&](int64_t at, ZoneHeader& h) {
    h = ZoneHeader();
    if (at >= bytes) return;
    const int64_t n = bytes - at < kZoneHeaderBytes ? bytes - at : kZoneHeaderBytes;
    ReadZoneHeader(block(at, n), n, dimension, h);
  };
  ZoneHeader h;
  if (tableEnd == 2) {
    header(2, h);
    visit(0, 0, h);
    return true;
  }
  const int zones = static_cast<int>(tableEnd - 4) / 8;
  // The tables in pieces: a block of 65535 zones has 512 KiB of them.
  const int piece = 2048;
  int32_t valueStarts[piece], byteStarts[piece];
  for (int i = 0; i < zones; ++i) {
    if (i % piece == 0) {
      const int n = zones - i < piece ? zones - i : piece;
      const unsigned char* v = block(4 + 4 * static_cast<int64_t>(i), 4 * n);
      for (int k = 0; k < n; ++k) valueStarts[k] = v ? static_cast<int32_t>(loadI32(v + 4 * k)) : -1;
      const unsigned char* b = block(4 + 4 * static_cast<int64_t>(zones + i), 4 * n);
      for (int k = 0; k < n; ++k) byteStarts[k] = b ? static_cast<int32_t>(loadI32(b + 4 * k)) : -1;
    }
    const int32_t valueStart = valueStarts[i % piece], byteStart = byteStarts[i % piece];
    h = ZoneHeader();
    if (byteStart >= 0) header(tableEnd + byteStart + 2, h);
    visit(valueStart, byteStart, h);
  }
  return true;
}

BlockBytes inMemory(const void* block, int64_t bytes) {
  const unsigned char* p = static_cast<const unsigned char*>(block);
  return [p, bytes](int64_t at, int64_t count) -> const unsigned char* {
    return p && at >= 0 && count >= 0 && at <= bytes && count <= bytes - at ? p + at : nullptr;
  };
}

}  // namespace

GridBlockZones DescribeGridBlockZones(const BlockBytes& block, int64_t bytes, int dimension) {
  GridBlockZones out;
  out.readable = forEachZoneHeader(block, bytes, dimension, [&](int32_t, int32_t, const ZoneHeader& h) {
    ++out.zoneCount;
    if (h.method == NebFormat::kZoneRaw) {
      ++out.rawZones;
    } else if (h.method == NebFormat::kZoneConstant) {
      ++out.constantZones;
    } else if (h.method == NebFormat::kZoneQuantized && h.complete) {
      ++out.quantizedZones;
      const float step = h.scale != 0.0f ? 1.0f / h.scale : 0.0f;
      const float size = step < 0.0f ? -step : step;
      if (out.quantizedZones == 1 || size < out.finestStep) out.finestStep = size;
      if (out.quantizedZones == 1 || size > out.coarsestStep) out.coarsestStep = size;
      if (h.passes > out.maxPasses) out.maxPasses = h.passes;
    } else {
      ++out.otherZones;
    }
  });
  if (!out.readable) out = GridBlockZones();
  return out;
}

GridBlockZones DescribeGridBlockZones(const void* block, int64_t bytes, int dimension) {
  if (!block) return GridBlockZones();
  return DescribeGridBlockZones(inMemory(block, bytes), bytes, dimension);
}

int64_t GridBlockExtent(const void* block, int64_t bytes, int dimension) {
  // Larger than any grid; kept clear of overflow when a zone start is added.
  const int64_t kHuge = INT64_MAX / 2;
  int64_t extent = 0;
  const bool readable = block && forEachZoneHeader(inMemory(block, bytes), bytes, dimension,
                                                   [&](int32_t valueStart, int32_t byteStart, const ZoneHeader& h) {
    if (valueStart < 0 || byteStart < 0) return;
    // A zone whose count cannot be read, or is negative, is empty.
    int64_t values = h.counted ? h.extent[0] : 0;
    for (int a = 1; a < 3 && values > 0; ++a) {
      if (h.extent[a] < 0) values = 0;
      else if (__builtin_mul_overflow(values, h.extent[a], &values)) values = kHuge + 1;
    }
    if (values < 0) values = 0;
    extent = std::max(extent, values > kHuge ? kHuge : valueStart + values);
  });
  return readable ? extent : -1;
}

}  // namespace OSTUtils
