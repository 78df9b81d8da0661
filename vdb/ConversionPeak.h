// How much memory converting one frame takes at its peak: what a scheduler plans the
// frames converted at once by. Nothing is decoded.
#pragma once

#include <cstdint>
#include <vector>

#include "nebloader_c.h"
#include "vdb/GridNaming.h"

namespace NebVdb {

// Peak bytes of building `plans` from `frame` and writing them, read as FrameSlabs reads
// it (a frame opened with NEB_OPEN_HEADER_ONLY has no records: whole channels):
//   - slab by slab (the frame has grid records): the trees of the planned grids (the cells
//     the zone tables say may vary, at 4 bytes a component and a quarter more for leaf
//     masks and nodes; every cell when dense), the slab buffers, the particles with their
//     copies and a fixed allowance. The zone tables give the share of zones that are not
//     constant; the cells of a channel's other zones are taken as that share of its cells;
//   - whole channels: the decoded channels, the trees built from them (a dense tree is as
//     large as its channel; the sparse ones are never larger), the file buffer OpenVDB
//     writes through, and the particles with their copies.
int64_t estimateConversionPeak(neb_frame* frame, const std::vector<GridPlan>& plans, bool dense);

}  // namespace NebVdb
