#include "compress/SGCompressor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "compress/EntropyCoder.h"
#include "compress/NebFormat.h"
#include "compress/GridBlockHeader.h"
#include "compress/ZoneTransforms.h"
#include "ostutils/MemoryLimit.h"
#include "ostutils/ParallelFill.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

// Per-job scratch kept ready for typical zones: the values of a 65536-value zone and the
// entropy decoder's spare room for it.
const int kScratchInts = static_cast<int>(65536 + DecodeSpareInts(65536));
const int kRunThreshold = 4;

// Takes `bytes` bytes of the zone's stream, or fails when they pass its budget.
inline const unsigned char* take(SGZone& zone, int64_t bytes) {
  if (zone.consumed < 0 || bytes > zone.byteBudget - zone.consumed) return nullptr;
  const unsigned char* p = zone.source + zone.consumed;
  zone.consumed += bytes;
  return p;
}

bool append(OstArray<char, int64_t>& out, const void* bytes, int64_t count) {
  const int64_t at = out.size;
  if (!out.SetSize(at + count)) return false;
  std::memcpy(out.data + at, bytes, static_cast<size_t>(count));
  return true;
}
bool appendU8(OstArray<char, int64_t>& out, uint8_t v) { return append(out, &v, 1); }
bool appendI32(OstArray<char, int64_t>& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  const unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                              static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
  return append(out, b, 4);
}
bool appendF32(OstArray<char, int64_t>& out, float v) {
  uint32_t u;
  std::memcpy(&u, &v, sizeof(u));
  return appendI32(out, static_cast<int32_t>(u));
}

bool isFiniteBits(float v) {
  uint32_t u;
  std::memcpy(&u, &v, sizeof(u));
  return (u & 0x7F800000u) != 0x7F800000u;
}

// Raw zone: method 0, every float as it is.
bool writeRawZone(SGZone& zone) {
  OstArray<char, int64_t>& out = *zone.compressed;
  if (!appendU8(out, NebFormat::kZoneRaw) || !appendI32(out, zone.valueCount)) return false;
  if (zone.valueCount > 0) {
    const int64_t at = out.size;
    if (!out.SetSize(at + 4 * static_cast<int64_t>(zone.valueCount))) return false;
    unsigned char* p = reinterpret_cast<unsigned char*>(out.data + at);
    for (int i = 0; i < zone.valueCount; ++i) {
      uint32_t u;
      std::memcpy(&u, &zone.values[i], sizeof(u));
      p[4 * i] = static_cast<unsigned char>(u);
      p[4 * i + 1] = static_cast<unsigned char>(u >> 8);
      p[4 * i + 2] = static_cast<unsigned char>(u >> 16);
      p[4 * i + 3] = static_cast<unsigned char>(u >> 24);
    }
  }
  return true;
}

}  // namespace

template <int D>
SGCompressor<D>::SGCompressor(int threads) : OstParallel(nullptr), threadRequest(threads) {}

template <int D>
SGCompressor<D>::~SGCompressor() = default;

template <int D>
const char* SGCompressor<D>::getName() {
  return "SGCompressor";
}

template <int D>
bool SGCompressor<D>::prepareJobs() {
  setupJobs(threadRequest);
  const int jobs = jobCount > 0 ? jobCount : 1;
  if (!jobBuffers.SetSize(jobs)) return false;
  for (int j = 0; j < jobs; ++j) {
    OstArray<int, int>& scratch = jobBuffers[j];
    // Fresh 100000-integer storage per block: a huge zone of an earlier block does not
    // keep its scratch alive. Storage of exactly that size is reused as it is.
    if (scratch.capacity != kScratchInts) {
      scratch.Free();
      if (scratch.SetSize(kScratchInts, nullptr, true)) scratch.SetSize(0);
    } else {
      scratch.SetSize(0);
    }
  }
  return true;
}

template <int D>
bool SGCompressor<D>::DecompressBlock(const void* block, int64_t availableBytes, float* out, int64_t outCount,
                                      bool zeroUnwritten) {
  consumed = 0;
  position = static_cast<const unsigned char*>(block);
  if (!block || availableBytes < 2 || outCount < 0 || (outCount > 0 && !out)) {
    ZUtils::logReport("SGCompressor: block of %lld bytes is too short or has no output\n",
                      static_cast<long long>(availableBytes));
    return false;
  }
  if (!prepareJobs()) {
    ZUtils::logReport("[ERROR] SGCompressor: job buffers could not be allocated\n");
    return false;
  }
  const unsigned char* p = position;
  const int64_t headBytes = ZoneTableBytes(p, availableBytes);
  OstArray<ZoneSpan, int> spans;
  if (!ReadZoneTable(p, availableBytes, outCount, spans)) return false;
  consumed = headBytes;

  if (spans.size == 1 && spans[0].skip == 0) {
    Zone zone;
    zone.source = p + spans[0].streamStart;
    zone.byteBudget = availableBytes - 2;
    zone.consumed = 0;
    zone.values = out;
    zone.valueCapacity = outCount;
    zone.ok = DecompressZone(zone, 0);
    if (zone.ok && zeroUnwritten) ParallelFill(out + zone.written, outCount - zone.written, 0.0f);
    return zone.ok;
  }

  const int zoneCount = spans.size;
  if (!zones.SetSize(zoneCount)) {
    ZUtils::logReport("[ERROR] SGCompressor: zone list could not be allocated\n");
    return false;
  }
  for (int i = 0; i < zoneCount; ++i) {
    const ZoneSpan& s = spans[i];
    Zone& zone = zones[i];
    zone.values = out + s.valueStart;
    zone.source = p + s.streamStart;
    zone.byteBudget = s.streamEnd - s.streamStart;
    zone.valueCapacity = s.valueEnd - s.valueStart;
    zone.ok = false;
    zone.consumed = s.skip;
  }
  if (zoneCount > 0) runJobs(1);
  // A damaged zone leaves its values and the block decodes; a zone that could not get its
  // scratch is not damaged, and zeros in its place would be a wrong channel passed off as a
  // sound one. The block fails as a single zone does ("Can't allocate ..." reported).
  for (int i = 0; i < zoneCount; ++i)
    if (zones[i].noMemory) return false;
  if (zeroUnwritten) {
    // Zones ascend and never overlap, and a zone writes its first `written` values or,
    // failing, none: what lies between those runs is what no zone wrote.
    int64_t next = 0;
    for (int i = 0; i < zoneCount; ++i) {
      const int64_t start = zones[i].values - out;
      if (start > next) ParallelFill(out + next, start - next, 0.0f);
      next = std::max(next, start + (zones[i].ok ? zones[i].written : 0));
    }
    ParallelFill(out + next, outCount - next, 0.0f);
  }
  return true;
}

template <int D>
bool SGCompressor<D>::DecompressZone(Zone& zone, int jobIndex) {
  zone.written = 0;
  zone.noMemory = false;
  if (jobIndex < 0 || jobIndex >= jobBuffers.size || !zone.source) return false;
  ZoneHeader h;
  if (zone.consumed >= 0 && zone.consumed < zone.byteBudget)
    ReadZoneHeader(zone.source + zone.consumed, zone.byteBudget - zone.consumed, D, h);
  if (h.method < 0) {
    ZUtils::logReport("SGCompressor: zone stream ends before its method\n");
    return false;
  }
  const int method = h.method;
  if (method == NebFormat::kZoneRaw || method == NebFormat::kZoneConstant) {
    if (!h.complete) {
      ZUtils::logReport("SGCompressor: zone header runs past its stream\n");
      return false;
    }
    zone.consumed += 1 + h.bytes;
    const int64_t n = h.extent[0];
    if (n < 0 || n > zone.valueCapacity) {
      ZUtils::logReport("SGCompressor: zone of %lld values, room for %lld\n", static_cast<long long>(n),
                        static_cast<long long>(zone.valueCapacity));
      return false;
    }
    if (method == NebFormat::kZoneConstant) {
      for (int64_t i = 0; i < n; ++i) zone.values[i] = h.value;
      zone.written = n;
      return true;
    }
    const unsigned char* raw = take(zone, 4 * n);
    if (!raw) {
      ZUtils::logReport("SGCompressor: raw zone runs past its stream\n");
      return false;
    }
    if (n > 0) std::memcpy(zone.values, raw, static_cast<size_t>(4 * n));
    zone.written = n;
    return true;
  }
  if (method != NebFormat::kZoneQuantized) {
    ZUtils::logReport("SGCompressor: unknown zone method %d\n", method);
    return false;
  }
  if (!h.complete) {
    ZUtils::logReport("Can't allocate %d MB for decompression\n", 0);
    return false;
  }
  zone.consumed += 1 + h.bytes;
  const int64_t* extent = h.extent;
  const float scale = h.scale;
  float offset = h.offset;
  const int base = h.base;
  const int passes = h.passes;
  if (offset > 0.0f && offset < 1e-20f) offset = 0.0f;

  // The value count is checked against the zone's room before anything is sized by it.
  int64_t n = 1;
  for (int a = 0; a < D; ++a) {
    if (extent[a] < 0) {
      ZUtils::logReport("SGCompressor: negative zone extent\n");
      return false;
    }
  }
  for (int a = 0; a < D; ++a) {
    if (extent[a] == 0) {
      n = 0;
      break;
    }
    if (extent[a] > zone.valueCapacity / n) {
      n = -1;
      break;
    }
    n *= extent[a];
  }
  if (n < 0 || n > INT_MAX) {
    ZUtils::logReport("SGCompressor: quantized zone larger than its room of %lld values\n",
                      static_cast<long long>(zone.valueCapacity));
    return false;
  }
  if (n == 0) {
    if (passes > 0) {
      ZUtils::logReport("SGCompressor: empty quantized zone with %d differencing passes\n", passes);
      return false;
    }
    return true;
  }

  OstArray<int, int>& scratch = jobBuffers[jobIndex];
  // The decoder's spare room follows the values; without it decoding is only slower, so
  // it is not asked for where the memory budget would refuse it (and report that). A
  // growth holds the old scratch and the new one at once.
  const int64_t spareInts = DecodeSpareInts(n);
  const uint64_t budget = memoryLimitBytes(), held = memoryHeldBytes();
  const bool spareFits = n + spareInts <= scratch.capacity ||
                         (held <= budget && static_cast<uint64_t>(n + spareInts) * sizeof(int) <= budget - held);
  const bool spare =
      n + spareInts <= INT_MAX && spareFits && scratch.SetSize(static_cast<int>(n + spareInts), nullptr, true);
  if (!spare && !scratch.SetSize(static_cast<int>(n), nullptr, true)) {
    ZUtils::logReport("Can't allocate %d MB for decompression\n", static_cast<int>(n / 1048576));
    zone.noMemory = true;
    return false;
  }
  int* q = scratch.data;
  // A coded sequence that stops early (damaged, cut short, or a table that could not be
  // read) still gives a zone: the values decoded before the stop are kept and the rest of
  // the scratch is 0 at the quantized level, so nothing left from an earlier zone in this
  // job's scratch leaks into the output.
  EntropyCoder coder;
  int64_t decoded = 0;
  const bool tables = InitDecoder(coder, zone.source + zone.consumed, zone.byteBudget - zone.consumed);
  if (!tables && coder.noMemory) {
    zone.noMemory = true;  // the decoder's tables, not the stream: as for the scratch above
    return false;
  }
  if (!tables ||
      !DecodeAndExpand(coder, q, n, base, &decoded, spare ? q + n : nullptr, spare ? spareInts : 0)) {
    ZUtils::logReport("SGCompressor: coded sequence of the zone is damaged or cut short\n");
    std::memset(q + decoded, 0, static_cast<size_t>(n - decoded) * sizeof(int));
    zone.consumed = zone.byteBudget;
  } else {
    zone.consumed += (coder.bitPos + 7) / 8;
  }

  if (D == 1) {
    IntegrateDequantizeLine(q, n, passes, scale, offset, zone.values);
  } else {
    IntegrateDequantizeBox(q, static_cast<int>(extent[0]), static_cast<int>(extent[1]), static_cast<int>(extent[2]),
                           passes, scale, offset, zone.values);
  }
  zone.written = n;
  return true;
}

template <int D>
bool SGCompressor<D>::CompressZone(Zone& zone) {
  if (!zone.compressed) return false;
  OstArray<char, int64_t>& out = *zone.compressed;
  out.SetSize(0);
  const int count = zone.valueCount;
  if (count < 0 || (count > 0 && !zone.values) || zone.diffPasses < 0 || zone.diffPasses > 255) {
    ZUtils::logReport("SGCompressor: zone to compress has invalid parameters\n");
    return false;
  }
  if (D == 3 && static_cast<int64_t>(zone.box[0]) * zone.box[1] * zone.box[2] != count) {
    ZUtils::logReport("SGCompressor: zone box does not hold its values\n");
    return false;
  }
  const unsigned char magic[2] = {NebFormat::kSingleZoneMagic & 0xFF, NebFormat::kSingleZoneMagic >> 8};
  if (!append(out, magic, 2)) return false;

  // Minimum and maximum; an infinity or a NaN ends the scan with both at 0, which stores
  // the zone as zeros.
  float lo = count > 0 ? zone.values[0] : 0.0f;
  float hi = lo;
  for (int i = 0; i < count; ++i) {
    const float v = zone.values[i];
    if (!isFiniteBits(v)) {
      lo = hi = 0.0f;
      break;
    }
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
  }
  if (std::fabs(lo - hi) < 1e-20f) {
    return appendU8(out, NebFormat::kZoneConstant) && appendI32(out, count) && appendF32(out, lo);
  }
  if (zone.precisionBits >= 20) return writeRawZone(zone);

  float rangeMin = zone.rangeMin;
  float rangeMax = zone.rangeMax;
  if (rangeMin == 3.4028235e38f || rangeMax == -3.4028235e38f) {
    rangeMin = lo;
    rangeMax = hi;
    zone.rangeMin = lo;
    zone.rangeMax = hi;
  }
  if (!zone.quantized.SetSize(count, nullptr, true)) {
    ZUtils::logReport("Can't allocate %d MB for compression\n", count / 1048576);
    return false;
  }
  const float scale = zone.precisionBits < 1 ? 1.0f / zone.quantStep
                                             : std::ldexp(1.0f, zone.precisionBits) / (rangeMax - rangeMin);
  int* q = zone.quantized.data;
  // Steps that would not fit an integer (a preset range far from the values, a tiny step)
  // leave the zone raw rather than wrapping.
  bool fits = std::isfinite(scale) && scale != 0.0f;
  for (int i = 0; fits && i < count; ++i) {
    const float x = std::roundf((zone.values[i] - rangeMin) * scale);
    if (!(std::fabs(x) < 1073741824.0f)) fits = false;
    else q[i] = static_cast<int>(x);
  }
  if (fits) {
    if (D == 1) {
      DifferenceLine(q, count, zone.diffPasses);
    } else {
      DifferenceBox(q, zone.box[0], zone.box[1], zone.box[2], zone.diffPasses);
    }
    int64_t qlo = 0;
    int64_t qhi = 0;
    if (count > 0) qlo = qhi = q[0];
    for (int i = 1; i < count; ++i) {
      qlo = q[i] < qlo ? q[i] : qlo;
      qhi = q[i] > qhi ? q[i] : qhi;
    }
    // Run entries are negative: every value less the base must stay non-negative.
    fits = qhi - qlo <= INT_MAX;
    if (fits) {
      const int base = static_cast<int>(qlo);
      bool ok = appendU8(out, NebFormat::kZoneQuantized);
      if (D == 3) {
        ok = ok && appendI32(out, zone.box[0]) && appendI32(out, zone.box[1]) && appendI32(out, zone.box[2]);
      } else {
        ok = ok && appendI32(out, count);
      }
      ok = ok && appendF32(out, scale) && appendF32(out, rangeMin) && appendI32(out, base) &&
           appendU8(out, static_cast<uint8_t>(zone.diffPasses & 0xFF));
      if (!ok) return false;
      for (int i = 0; i < count; ++i) q[i] = static_cast<int>(static_cast<uint32_t>(q[i]) - static_cast<uint32_t>(base));
      const int64_t folded = FoldRuns(q, count, kRunThreshold);
      EntropyCoder coder;
      return Encode(coder, q, folded, out) > 0;
    }
  }
  out.SetSize(2);
  return writeRawZone(zone);
}

template <int D>
bool SGCompressor<D>::DecompressZones() {
  for (int i = 0; i < zones.size; ++i) zones[i].ok = false;
  if (zones.size == 0) return true;
  if (!prepareJobs()) {
    ZUtils::logReport("[ERROR] SGCompressor: job buffers could not be allocated\n");
    return false;
  }
  runJobs(1);
  for (int i = 0; i < zones.size; ++i)
    if (zones[i].noMemory) return false;
  return true;
}

template <int D>
bool SGCompressor<D>::CompressZones() {
  if (!prepareJobs()) return false;
  for (int i = 0; i < zones.size; ++i) zones[i].ok = false;
  if (zones.size > 0) runJobs(0);
  bool all = true;
  for (int i = 0; i < zones.size; ++i) all = all && zones[i].ok;
  return all;
}

template <int D>
void SGCompressor<D>::processJob(Job* job) {
  const int jobs = jobCount > 0 ? jobCount : 1;
  for (int z = job->index; z < zones.size; z += jobs) {
    if (job->op == 0) {
      zones[z].ok = CompressZone(zones[z]);
    } else if (job->op == 1) {
      zones[z].ok = DecompressZone(zones[z], job->index);
    }
  }
}

template class SGCompressor<1>;
template class SGCompressor<3>;

}  // namespace OSTUtils
