// Writes one loaded frame as an OpenVDB file the way neb2vdb's options ask.
//
// File contents, in order: the grids of GridNaming (float or Vec3s, sparse or dense),
// then one point data grid per particle group (PointGroupGrid), named after the group
// (--rename applies). All grids carry the frame's index-to-world transform. Sparse: see
// SparseTree; dense: every cell active, as volconvert writes them. --half marks the
// volume grids to be saved as 16-bit floats.
//
// File metadata: "frame" (Int32, when the frame has a number), "source_file" (string,
// the source path as given), "converter" ("neb2vdb"), "converter_version", and the
// record of the source's state and the options (SourceState.h).
//
// With a points file (--points-file) the point data grids go there instead, with the same
// file metadata; it is written first, and only when the frame has a group to write, so a
// volume file that exists means its frame is done (--skip-existing).
//
// The volume grids are built by the conversion engine (vdb/FrameGridBuilder.h): sparse
// grids, the vector grids' noise floor, the Z-up turn of the planned components.
//
// Up axis z: the index-to-world matrix is followed by the turn (x, y, z) -> (x, -z, y),
// vector grids are planned turned (GridNaming), particle positions and velocities turn
// with them (PointGroupGrid).
//
// The file appears only when complete (AtomicFile); a failed frame leaves nothing.
#pragma once

#include <cstdint>
#include <string>

#include "nebloader_c.h"
#include "tools/neb2vdb/Options.h"
#include "tools/neb2vdb/SourceState.h"
#include "vdb/ExportResult.h"
#include "vdb/FrameGridBuilder.h"

namespace Neb2Vdb {

struct FrameTask {
  std::string source, destination;
  std::string pointsDestination;  // empty: the particle groups go into `destination`
  bool hasNumber = false;
  int number = 0;
  SourceState sourceState;  // recorded in the file's metadata
};

struct FrameOutcome {
  NebVdb::ExportResult result;
  long long bytesWritten = 0;
  size_t particlesLeftOut = 0;
};

using NebVdb::reportReason;

class FrameExporter {
 public:
  explicit FrameExporter(const Options& options);  // initialises OpenVDB once

  // Never throws; safe to call from several threads for different frames. `frame` is
  // read through the C interface only (vdb/FrameSlabs.h: slab by slab when it has grid
  // records, else as whole channels); the grids are the same either way.
  FrameOutcome exportFrame(const FrameTask& task, neb_frame* frame) const;

 private:
  const Options& options_;
};

}  // namespace Neb2Vdb
