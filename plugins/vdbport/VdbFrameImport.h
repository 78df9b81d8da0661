// Importing an OpenVDB file into a frame (the "ImportFrameVDB" entry point).
//
// The frame gets one dense grid covering the union of the active bounding boxes of the
// grids the mapping names (only the grids found in the file count), a frame transform
// that maps world positions to that dense grid, and for each found entry its values in
// the entry's channel slot with the channel's bit in channelMask. Cells inside the dense
// box but outside a grid's active set get that grid's inactive or background value.
//
// Voxel limit: when maxVoxels is not negative and the dense grid would have more cells
// than max(maxVoxels, 1), the grid is downsampled by the smallest integer factor s that
// brings it within the limit: each dense cell holds the mean of the s x s x s source
// voxels it covers (fewer at the far edges), and the transform maps world positions to
// the downsampled cells, cell centres on block centres. Nothing is refused for size; a
// grid too large for memory fails with status 4. The work follows what the file stores,
// not the box it spans: a grid whose leaves fill little of a large box is averaged from
// its tree (SparseBlockMeans.h) rather than voxel by voxel.
//
// All mapped grids must share one linear transform (the first found grid's); a grid whose
// transform differs is left out with a report. Status: 0 loaded; 3 file missing or not
// readable; 4 not an OpenVDB file, damaged, or out of memory. Reports go to the library's
// report sink.
#pragma once

#include <cstdint>

#include "cache/OstraneFrameData.h"
#include "loader/ChannelMappings.h"
#include "nebloader.h"

namespace VdbPort {

// `manager`, when not null, runs the dense fill on its threads.
int importFrame(const char* path, OstraneFrameData& frame, bool headerOnly, const CacheIO::GridMapping* entries,
                int count, int64_t maxVoxels, ZUtils::ThreadManager* manager);

}  // namespace VdbPort
