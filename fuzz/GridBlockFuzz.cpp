// The grid block decoder (SGCompressor) in one and three dimensions, the block-extent
// pre-check the frame reader runs and nebinfo's zone description, on the same bytes.
// Input: one byte selecting the dimension (bit 0) and two bytes of output count (12 bits
// used), then the block.
#include <vector>

#include "FuzzTarget.h"
#include "cache/GridBlockExtent.h"
#include "compress/SGCompressor.h"

NEB_FUZZ_TARGET(grid_block) {
  nebfuzz::Input in{data, size};
  const int dimension = (in.take(1) & 1) ? 3 : 1;
  // Up to 4095 cells (a 16^3 box less one): every zone layout, box shape and count
  // mismatch fits. The decoder's work and the zero-filled output are linear in the count,
  // and counts up to 65535 slowed the run to a few hundred inputs a second.
  const int64_t outCount = in.take(2) & 0xfff;
  GridBlockExtent(in.data, static_cast<int64_t>(in.size), dimension);
  const GridBlockZones zones = DescribeGridBlockZones(in.data, static_cast<int64_t>(in.size), dimension);
  const int counted = zones.rawZones + zones.constantZones + zones.quantizedZones + zones.otherZones;
  if (counted != (zones.readable ? zones.zoneCount : 0)) __builtin_trap();  // each zone counted once
  std::vector<float> out(static_cast<size_t>(outCount) + 1, 0.0f);
  // One guard cell past the end: a decoder writing past outCount is caught by value even
  // where the sanitizer's redzone would not be.
  const float guard = -1234.5f;
  out[static_cast<size_t>(outCount)] = guard;
  bool ok;
  if (dimension == 1) {
    OSTUtils::SGCompressor<1> codec(1);
    ok = codec.DecompressBlock(in.data, static_cast<int64_t>(in.size), out.data(), outCount);
  } else {
    OSTUtils::SGCompressor<3> codec(1);
    ok = codec.DecompressBlock(in.data, static_cast<int64_t>(in.size), out.data(), outCount);
  }
  (void)ok;
  if (out[static_cast<size_t>(outCount)] != guard) __builtin_trap();
  return 0;
}
