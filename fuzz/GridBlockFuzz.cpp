// The grid block decoder (SGCompressor) in one and three dimensions, the block-extent
// pre-check the frame reader runs and nebinfo's zone description, on the same bytes.
// Input: one byte selecting the dimension (bit 0) and whether the decoder clears what no
// zone writes (bit 1), two bytes of output count (12 bits used), then the block. The block
// is described twice, from memory and from bytes fetched piece by piece: the same. With
// clearing, the block is decoded over two different prefills: any value neither written
// nor cleared shows up as a difference. It is decoded once more under a memory budget of
// a few KiB above what is held, which refuses the scratch of all but small zones: that
// decode fails or gives the same values, never a zone's values replaced by zeros (as
// once when the entropy decoder's tables were refused).
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "compress/GridBlockHeader.h"
#include "compress/SGCompressor.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"

NEB_FUZZ_TARGET(grid_block) {
  nebfuzz::Input in{data, size};
  const unsigned mode = static_cast<unsigned>(in.take(1));
  const int dimension = (mode & 1) ? 3 : 1;
  const bool clear = (mode & 2) != 0;
  // Up to 8191 cells: every zone layout, box shape and count mismatch fits, and so do
  // sequences long enough (4096 values) for the entropy decoder's interleaved chains. The
  // decoder's work and the output are linear in the count, and counts up to 65535 slowed
  // the run to a few hundred inputs a second.
  const int64_t outCount = in.take(2) & 0x1fff;
  OSTUtils::GridBlockExtent(in.data, static_cast<int64_t>(in.size), dimension);
  const OSTUtils::GridBlockZones zones = OSTUtils::DescribeGridBlockZones(in.data, static_cast<int64_t>(in.size), dimension);
  const int counted = zones.rawZones + zones.constantZones + zones.quantizedZones + zones.otherZones;
  if (counted != (zones.readable ? zones.zoneCount : 0)) __builtin_trap();  // each zone counted once
  // Described from bytes fetched piece by piece into a buffer of their own, as a block left
  // in its file is: the same description.
  std::vector<unsigned char> fetched;
  const OSTUtils::GridBlockZones copied = OSTUtils::DescribeGridBlockZones(
      [&](int64_t at, int64_t count) {
        fetched.assign(in.data + at, in.data + at + count);
        return fetched.data();
      },
      static_cast<int64_t>(in.size), dimension);
  if (copied.readable != zones.readable || copied.zoneCount != zones.zoneCount || copied.rawZones != zones.rawZones ||
      copied.constantZones != zones.constantZones || copied.quantizedZones != zones.quantizedZones ||
      copied.otherZones != zones.otherZones || copied.maxPasses != zones.maxPasses ||
      std::memcmp(&copied.finestStep, &zones.finestStep, sizeof(float)) != 0 ||
      std::memcmp(&copied.coarsestStep, &zones.coarsestStep, sizeof(float)) != 0)
    __builtin_trap();
  // One guard cell past the end: a decoder writing past outCount is caught by value even
  // where the sanitizer's redzone would not be.
  const float guard = -1234.5f;
  auto decode = [&](float fill, std::vector<float>& out) {
    out.assign(static_cast<size_t>(outCount) + 1, fill);
    out[static_cast<size_t>(outCount)] = guard;
    bool ok;
    if (dimension == 1) {
      OSTUtils::SGCompressor<1> codec(1);
      ok = codec.DecompressBlock(in.data, static_cast<int64_t>(in.size), out.data(), outCount, clear);
    } else {
      OSTUtils::SGCompressor<3> codec(1);
      ok = codec.DecompressBlock(in.data, static_cast<int64_t>(in.size), out.data(), outCount, clear);
    }
    if (out[static_cast<size_t>(outCount)] != guard) __builtin_trap();
    return ok;
  };
  std::vector<float> first, second;
  const bool ok = decode(0.0f, first);
  if (clear && ok) {
    decode(-7777.25f, second);
    if (std::memcmp(first.data(), second.data(), first.size() * sizeof(float)) != 0) __builtin_trap();
    const uint64_t budget = OSTUtils::memoryLimitBytes();
    OSTUtils::setMemoryLimitBytes(OSTUtils::memoryHeldBytes() - OSTUtils::largeBlockCacheBytes() + 8192);
    const bool tight = decode(0.0f, second);
    OSTUtils::setMemoryLimitBytes(budget);
    if (tight && std::memcmp(first.data(), second.data(), first.size() * sizeof(float)) != 0) __builtin_trap();
  }
  return 0;
}
