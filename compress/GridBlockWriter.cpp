#include "compress/GridBlockWriter.h"

#include <climits>
#include <cstring>

#include "compress/NebFormat.h"
#include "compress/SGCompressor.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

// Zone tables hold u16 counts and i32 offsets.
const int64_t kMaxZones = 65535;

struct ZonePlan {
  int64_t first;  // first value
  int64_t count;  // values
  int box[3];     // 3D only
};

bool validOptions(const GridBlockOptions& opt) {
  return opt.diffPasses >= 0 && opt.diffPasses <= 255 && opt.zoneLength > 0 && opt.zoneSlices >= 0 &&
         (opt.lossless || opt.precisionBits >= 1);
}

void putU16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void putI32(unsigned char* p, int64_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
  p[3] = static_cast<unsigned char>(u >> 24);
}

// Compresses the planned zones and appends the block. `values` is the whole array.
template <int D>
bool writeBlock(const float* values, int64_t total, const ZonePlan* plan, int zoneCount, const GridBlockOptions& opt,
                OstArray<char, int64_t>& out) {
  const int64_t start = out.size;
  if (zoneCount == 0) {
    // An empty array: a zoned block without zones.
    if (!out.SetSize(start + 4)) return false;
    unsigned char* p = reinterpret_cast<unsigned char*>(out.data + start);
    putU16(p, NebFormat::kZonedMagic);
    putU16(p + 2, 0);
    return true;
  }

  SGCompressor<D> compressor(opt.threads);
  OstArray<OstArray<char, int64_t>, int> streams;
  if (!compressor.zones.SetSize(zoneCount) || !streams.SetSize(zoneCount)) {
    ZUtils::logReport("[ERROR] WriteGridBlock: zone list could not be allocated\n");
    return false;
  }
  for (int i = 0; i < zoneCount; ++i) {
    SGZone& zone = compressor.zones[i];
    zone.compressed = &streams[i];
    zone.values = const_cast<float*>(values + plan[i].first);
    zone.valueCount = static_cast<int>(plan[i].count);
    // Lossless zones are raw: precision 20 and above never quantizes, and the constant
    // shortcut is avoided below because it is not bit exact.
    zone.precisionBits = opt.lossless ? 20 : opt.precisionBits;
    zone.diffPasses = opt.diffPasses;
    for (int a = 0; a < 3; ++a) zone.box[a] = plan[i].box[a];
  }
  if (opt.lossless) {
    // Raw zones without the constant test: the bytes as they are.
    for (int i = 0; i < zoneCount; ++i) {
      OstArray<char, int64_t>& s = streams[i];
      const int64_t n = plan[i].count;
      if (!s.SetSize(7 + 4 * n, nullptr, true)) {
        ZUtils::logReport("[ERROR] WriteGridBlock: zone buffer could not be allocated\n");
        return false;
      }
      unsigned char* p = reinterpret_cast<unsigned char*>(s.data);
      putU16(p, NebFormat::kSingleZoneMagic);
      p[2] = NebFormat::kZoneRaw;
      putI32(p + 3, n);
      for (int64_t k = 0; k < n; ++k) {
        uint32_t u;
        std::memcpy(&u, values + plan[i].first + k, sizeof(u));
        putI32(p + 7 + 4 * k, u);
      }
    }
  } else if (!compressor.CompressZones()) {
    ZUtils::logReport("WriteGridBlock: a zone could not be compressed\n");
    return false;
  }

  if (zoneCount == 1 && plan[0].first == 0 && plan[0].count == total) {
    // Single-zone block: the zone stream is the block, its magic the block's.
    const int64_t n = streams[0].size;
    if (!out.SetSize(start + n)) return false;
    std::memcpy(out.data + start, streams[0].data, static_cast<size_t>(n));
    return true;
  }

  const int64_t tableBytes = 4 + 8 * static_cast<int64_t>(zoneCount);
  int64_t streamBytes = 0;
  for (int i = 0; i < zoneCount; ++i) streamBytes += streams[i].size;
  // byteStart entries are i32: the start of the last zone must fit.
  if (streamBytes - streams[zoneCount - 1].size > INT_MAX) {
    ZUtils::logReport("WriteGridBlock: compressed block too large for its zone table\n");
    return false;
  }
  if (!out.SetSize(start + tableBytes + streamBytes)) {
    ZUtils::logReport("[ERROR] WriteGridBlock: block buffer could not be allocated\n");
    return false;
  }
  unsigned char* p = reinterpret_cast<unsigned char*>(out.data + start);
  putU16(p, NebFormat::kZonedMagic);
  putU16(p + 2, static_cast<uint32_t>(zoneCount));
  int64_t at = 0;
  for (int i = 0; i < zoneCount; ++i) {
    putI32(p + 4 + 4 * i, plan[i].first);
    putI32(p + 4 + 4 * zoneCount + 4 * i, at);
    std::memcpy(p + tableBytes + at, streams[i].data, static_cast<size_t>(streams[i].size));
    at += streams[i].size;
  }
  return true;
}

}  // namespace

GridBlockOptions defaultGridBlockOptions() {
  GridBlockOptions opt;
  opt.zoneLength = 65536;
  opt.precisionBits = 16;
  opt.diffPasses = 1;
  opt.lossless = false;
  opt.zoneSlices = 0;
  opt.threads = -1;
  return opt;
}

bool WriteGridBlock1D(const float* values, int64_t count, const GridBlockOptions& opt, OstArray<char, int64_t>& out) {
  if (!validOptions(opt) || count < 0 || (count > 0 && !values) || count > INT_MAX) {
    ZUtils::logReport("WriteGridBlock1D: invalid options or %lld values\n", static_cast<long long>(count));
    return false;
  }
  int64_t zoneLength = opt.zoneLength;
  if ((count + zoneLength - 1) / zoneLength > kMaxZones) zoneLength = (count + kMaxZones - 1) / kMaxZones;
  const int zoneCount = static_cast<int>((count + zoneLength - 1) / zoneLength);
  OstArray<ZonePlan, int> plan;
  if (!plan.SetSize(zoneCount, nullptr, true)) return false;
  for (int i = 0; i < zoneCount; ++i) {
    const int64_t first = i * zoneLength;
    const int64_t n = count - first < zoneLength ? count - first : zoneLength;
    plan[i] = ZonePlan{first, n, {static_cast<int>(n), 1, 1}};
  }
  const int64_t start = out.size;
  if (writeBlock<1>(values, count, plan.data, zoneCount, opt, out)) return true;
  if (out.size > start) out.SetSize(start);
  return false;
}

bool WriteGridBlock3D(const float* values, int nx, int ny, int nz, const GridBlockOptions& opt,
                      OstArray<char, int64_t>& out) {
  const int64_t slab = static_cast<int64_t>(nx) * ny;
  const int64_t total = slab * nz;
  if (!validOptions(opt) || nx < 0 || ny < 0 || nz < 0 || (total > 0 && !values) || total > INT_MAX) {
    ZUtils::logReport("WriteGridBlock3D: invalid options or grid %d x %d x %d\n", nx, ny, nz);
    return false;
  }
  int64_t slices = opt.zoneSlices;
  if (slices == 0) slices = slab > 0 ? (opt.zoneLength + slab - 1) / slab : 1;
  if (slices < 1) slices = 1;
  const int64_t zones = total > 0 ? (nz + slices - 1) / slices : 0;
  if (zones > kMaxZones) slices = (nz + kMaxZones - 1) / kMaxZones;
  const int zoneCount = total > 0 ? static_cast<int>((nz + slices - 1) / slices) : 0;
  OstArray<ZonePlan, int> plan;
  if (!plan.SetSize(zoneCount, nullptr, true)) return false;
  for (int i = 0; i < zoneCount; ++i) {
    const int64_t z0 = i * slices;
    const int64_t nzZone = nz - z0 < slices ? nz - z0 : slices;
    plan[i] = ZonePlan{z0 * slab, nzZone * slab, {nx, ny, static_cast<int>(nzZone)}};
  }
  const int64_t start = out.size;
  if (writeBlock<3>(values, total, plan.data, zoneCount, opt, out)) return true;
  if (out.size > start) out.SetSize(start);
  return false;
}

}  // namespace OSTUtils
