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
// Vector grids (sparse): the cache's lossy codec gives back a stored zero as the rounding
// residue of its dequantisation, q * (1/scale) + offset in single precision: a few dozen
// units in the last place of the zone's range (about 2^-19 of the largest component on
// the sample). A cell is active when some component's magnitude exceeds the larger of
// the tolerance and 2^-16 of the grid's largest finite component magnitude in the frame.
// Active voxels keep their bits; --dense keeps every cell.
//
// Up axis z: the index-to-world matrix is followed by the turn (x, y, z) -> (x, -z, y),
// vector grids are planned turned (GridNaming), particle positions and velocities turn
// with them (PointGroupGrid).
//
// The file appears only when complete (AtomicFile); a failed frame leaves nothing.
#pragma once

#include <cstdint>
#include <string>

#include "tools/neb2vdb/GridNaming.h"
#include "tools/neb2vdb/Options.h"
#include "tools/neb2vdb/SourceState.h"
#include "vdb/ExportResult.h"

class INeb;
class GridRecordBytes;

namespace Neb2Vdb {

struct FrameTask {
  std::string source, destination;
  std::string pointsDestination;  // empty: the particle groups go into `destination`
  bool hasNumber = false;
  int number = 0;
  // No other job holds the same frame object (the library shares one object per file):
  // its channels may be released as soon as their grids are built.
  bool exclusive = true;
  SourceState sourceState;  // recorded in the file's metadata
};

struct FrameOutcome {
  VolConvert::ExportResult result;
  long long bytesWritten = 0;
  size_t particlesLeftOut = 0;
};

// ": " and the captured report lines (ZUtils::ThreadReportCapture) joined by "; ", or
// nothing when none were made: the reason added to a failed frame's message.
std::string reportReason(const std::string& reports);

class FrameExporter {
 public:
  explicit FrameExporter(const Options& options);  // initialises OpenVDB once

  // Channels stored in the frame (bit c = channel c). Speed (3) counts only when the
  // frame stores it: the library also offers it derived from a complete velocity.
  static uint32_t storedChannels(INeb& frame);

  // Never throws; safe to call from several threads for different frames. With `records`
  // (the grid records of a frame of this library, from its file after ImportNebGridInFile)
  // the grids are built slab by slab from them, in memory bounded by a slab and the trees;
  // without, from the frame's whole channels. Both give the same file.
  FrameOutcome exportFrame(const FrameTask& task, INeb& frame, const GridRecordBytes* records = nullptr) const;

 private:
  const Options& options_;
};

}  // namespace Neb2Vdb
