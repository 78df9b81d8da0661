// The output grids of a frame, built slab by slab from FrameSlabs: the conversion engine
// of neb2vdb. A frame read as whole channels is one slab; every frame takes this one path,
// and the trees are the same, bit for bit, whatever the slabs (see SparseTree.h).
//
// Each slab of a channel is read once (a channel two grids use is kept until its last
// grid of the slab), turned where the plan negates it (the Z-up turn, GridNaming.h: sign
// flips are exact), and added to the trees: no channel is held whole unless the frame
// gives it whole. The colour channels come from one zlib stream, inflated on one thread:
// each slab's colour is read by a pass of its own in the background while the slab's
// other grids are built.
//
// Sparse grids keep the cells above the tolerance. Vector grids (sparse): the cache's
// lossy codec gives back a stored zero as the rounding residue of its dequantisation,
// q * (1/scale) + offset in single precision: a few dozen units in the last place of the
// zone's range (about 2^-19 of the largest component on the sample). A cell is active
// when some component's magnitude exceeds the larger of the tolerance and 2^-16 of the
// grid's largest finite component magnitude in the frame: taken from the slab when the
// frame is one slab, else by a first pass that reads the vector grids' channels for that
// peak alone. Active voxels keep their bits; dense keeps every cell of every grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <openvdb/openvdb.h>

#include "nebloader_c.h"
#include "vdb/ExportResult.h"
#include "vdb/FrameSlabs.h"
#include "vdb/GridNaming.h"

namespace NebVdb {

struct GridBuildSettings {
  float tolerance = 0.0f;  // sparse: cells with every |component| <= tolerance are left out
  bool dense = false;      // every cell active, as volconvert writes them
};

// The channels a frame stores (bit c = channel c): what planGrids plans from. Speed (3)
// counts only when the frame stores it (its grid mask): the library also offers it
// derived from a complete velocity.
uint32_t storedChannels(neb_frame* frame);

// The grids' index-to-world matrix (FrameTransform.h) followed, with zUp, by the turn
// (x, y, z) -> (x, -z, y). False when the frame's transform is unusable.
bool gridIndexToWorld(neb_frame* frame, bool zUp, openvdb::math::Mat4d& matrix);

// ": " and the captured report lines (ZUtils::ThreadReportCapture) joined by "; ", or
// nothing when none were made: the reason added to a failed frame's message.
std::string reportReason(const std::string& reports);

class FrameGridBuilder {
 public:
  FrameGridBuilder(const FrameSlabs& slabs, const GridBuildSettings& settings);

  // Every planned grid, in plan order: named, vector type and fog class set, no transform.
  // A channel that cannot be read fails the frame with kExportChannelUnavailable and
  // "cannot decode channel <c>" and the reports made meanwhile (kept in `reports` too).
  // Throws what OpenVDB throws (std::bad_alloc).
  NebVdb::ExportResult build(const std::vector<GridPlan>& plans, std::string& reports,
                                 std::vector<openvdb::GridBase::Ptr>& grids) const;

 private:
  const FrameSlabs& slabs_;
  GridBuildSettings settings_;
};

}  // namespace NebVdb
