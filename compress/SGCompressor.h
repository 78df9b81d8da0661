// SGCompressor<D>: the zoned lossy float codec of the cache files.
//
// A block holds a float array cut into zones; each zone is an independent byte stream, so
// a block decodes in parallel, one zone per job (zone j, j + J, j + 2J... on job j).
//
// Block (little-endian):
//   u16 magic   0xFC01: the whole block is one zone stream (this magic is the zone's own)
//               0xFC02 / 0xFC03: zoned block, read identically:
//   u16 zoneCount
//   i32 valueStart[zoneCount]   first output index of each zone
//   i32 byteStart[zoneCount]    stream offset, counted from the byte after this table
//   zone streams
// Zone i covers values valueStart[i] .. valueStart[i+1]-1 and bytes byteStart[i] ..
// byteStart[i+1]-1; after the last zone the ends are outCount and the block end. The
// tables must be non-decreasing (zones never overlap, in the output or in the bytes),
// every valueStart < outCount and every byteStart < bytes after the table; otherwise the
// whole block is rejected before anything is written.
//
// Zone stream: u16 0xFC01 (not checked in zoned blocks), u8 method, then
//   0 raw        i32 n; f32 value[n]
//   1 constant   i32 n; f32 v
//   2 quantized  D = 1: i32 N;                 f32 scale; f32 offset; i32 base; u8 passes; code
//                D = 3: i32 X; i32 Y; i32 Z;   f32 scale; f32 offset; i32 base; u8 passes; code
// where `code` is an entropy-coded sequence (EntropyCoder.h) of N integers with runs.
// Decoding a quantized zone: q = decoded + base; undo `passes` differencing passes
// (D = 1: for p = passes..1, q[j] += q[j-1] for j = p..N-1; D = 3: the same along X, then
// Y, then Z lines of the X-fastest box, axes with extent <= p untouched in pass p); then
// values[i] = (float)q[i] * (1.0f / scale) + offset in single precision (offsets in
// (0, 1e-20) count as 0). Integer steps wrap around.
//
// A failing zone of a zoned block leaves its output untouched and is not reported to the
// caller (DecompressBlock still returns true); a failing single-zone block returns false.
#pragma once

#include <cstdint>

#include "ostutils/OstArray.h"
#include "ostutils/OstParallel.h"

namespace OSTUtils {

// One zone of a block (the same record for both dimensions).
struct SGZone {
  OstArray<char, int64_t>* compressed = nullptr;  // receives the stream when compressing
  OstArray<int, int64_t> quantized;               // compressing side
  const unsigned char* source = nullptr;          // the zone's stream when decoding
  float* values = nullptr;  // first output value (decoding) / first input value (compressing)
  int valueCount = 0;       // values to compress
  float rangeMin = 3.4028235e38f;   // quantization range preset; these two values mean unset
  float rangeMax = -3.4028235e38f;
  int precisionBits = 0;  // >= 20: raw; < 1: quantStep is the step; else 2^bits steps over the range
  float quantStep = 0.0f;
  int diffPasses = 0;  // 0 .. 255
  int64_t consumed = 0;       // stream bytes read so far
  int64_t byteBudget = 0;     // length of the stream
  int64_t valueCapacity = 0;  // output values the zone may write
  int box[3] = {0, 0, 0};     // SGCompressor<3> compressing: X, Y, Z of the zone (X fastest)
  bool ok = false;            // result of the last CompressZone / DecompressZone on it
  int64_t written = 0;        // values the last successful DecompressZone wrote
  bool noMemory = false;      // the last DecompressZone failed for want of scratch memory
};

}  // namespace OSTUtils

OST_BITWISE_RELOCATABLE(OSTUtils::SGZone);

namespace OSTUtils {

template <int D>
class SGCompressor : public OstParallel {
  static_assert(D == 1 || D == 3, "SGCompressor exists for one and three dimensions");

 public:
  typedef SGZone Zone;

  // threads: -1 = as many jobs as the thread manager provides.
  explicit SGCompressor(int threads = -1);
  ~SGCompressor() override;

  // Decodes the block of availableBytes bytes into out[0 .. outCount-1]. False for an
  // unknown magic or an invalid zone table (nothing written), when a single-zone block
  // fails, or when a zone's scratch could not be allocated. Values no zone writes keep their contents, or with zeroUnwritten become 0 (for an
  // output that was not cleared first: the decoder alone knows which values it wrote).
  bool DecompressBlock(const void* block, int64_t availableBytes, float* out, int64_t outCount,
                       bool zeroUnwritten = false);

  // Decodes one zone (source, byteBudget, consumed, values, valueCapacity set) with the
  // scratch array of job `jobIndex`.
  bool DecompressZone(Zone& zone, int jobIndex);

  // Decodes every zone of `zones` (source, byteBudget, consumed, values, valueCapacity set)
  // on the jobs; each zone's `ok` and `written` tell its result. False when the job buffers
  // or a zone's scratch could not be allocated: the zones are then not decoded as stored,
  // and the caller must not take the failed ones for damaged zones.
  bool DecompressZones();

  // Compresses zone.values[0 .. valueCount-1] into *zone.compressed (emptied first).
  // SGCompressor<3> takes the box from zone.box (X * Y * Z must equal valueCount).
  bool CompressZone(Zone& zone);

  // Compresses every zone of `zones` on the jobs; true when all succeeded.
  bool CompressZones();

  void processJob(Job* job) override;
  const char* getName() override;  // "SGCompressor"

  int threadRequest;
  const unsigned char* position = nullptr;  // block read position
  int64_t consumed = 0;                     // block bytes read so far
  OstArray<Zone, int> zones;
  OstArray<OstArray<int, int>, int> jobBuffers;  // one integer scratch array per job

 private:
  bool prepareJobs();
};

extern template class SGCompressor<1>;
extern template class SGCompressor<3>;

}  // namespace OSTUtils
