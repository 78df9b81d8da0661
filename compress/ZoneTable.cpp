#include "compress/ZoneTable.h"

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
  const uint16_t magic = loadU16(head);
  if (magic == kSingleZoneMagic) {
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
  if (magic != kZonedMagic && magic != kZonedMagicAlt) {
    ZUtils::logReport("SGCompressor: unknown block magic 0x%04X\n", magic);
    return false;
  }
  const int64_t tableEnd = availableBytes < 4 ? availableBytes + 1 : 4 + 8 * static_cast<int64_t>(loadU16(head + 2));
  if (tableEnd > availableBytes) {
    ZUtils::logReport("SGCompressor: zone table runs past the block\n");
    return false;
  }
  const int zoneCount = loadU16(head + 2);
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

}  // namespace OSTUtils
