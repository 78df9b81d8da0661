// Writes one loaded frame as an OpenVDB file the way neb2vdb's options ask.
//
// File contents, in order: the grids of GridNaming (float or Vec3s, sparse or dense),
// then one point data grid per particle group (PointGroupGrid), named after the group
// (--rename applies). All grids carry the frame's index-to-world transform. Sparse: see
// SparseTree; dense: every cell active, as volconvert writes them. --half marks the
// volume grids to be saved as 16-bit floats.
//
// File metadata: "frame" (Int32, when the frame has a number), "source_file" (string,
// the source path as given), "converter" ("neb2vdb") and "converter_version".
//
// The file appears only when complete (AtomicFile); a failed frame leaves nothing.
#pragma once

#include <cstdint>
#include <string>

#include "tools/neb2vdb/GridNaming.h"
#include "tools/neb2vdb/Options.h"
#include "tools/volconvert/FrameConverter.h"

class INeb;

namespace Neb2Vdb {

struct FrameTask {
  std::string source, destination;
  bool hasNumber = false;
  int number = 0;
  // No other job holds the same frame object (the library shares one object per file):
  // its channels may be released as soon as their grids are built.
  bool exclusive = true;
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

  // Never throws; safe to call from several threads for different frames.
  FrameOutcome exportFrame(const FrameTask& task, INeb& frame) const;

 private:
  const Options& options_;
};

}  // namespace Neb2Vdb
