// Writes one loaded frame as an OpenVDB file.
//
// Grids, in this order in the file (a velocity or colour group is written whole or not at
// all):
//   "Smoke_ost" (channel 2), "Temperature_ost" (1), "Fuel_ost" (10),
//   "VelocityX_ost" "VelocityY_ost" "VelocityZ_ost" (4, 5, 6: all three present),
//   "ColorR_ost" "ColorG_ost" "ColorB_ost" (7, 8, 9: all three present).
// Every cell of the frame's grid is an active voxel, zeros included; nothing is pruned.
// All grids get the same linear index-to-world transform (FrameTransform.h). The file
// carries one metadata item "OstraneVDBVer" = Int32 0 and uses the library's default
// compression. A frame with none of these channels still gives a file, without grids.
//
// The exporter keeps the trees of the previous frame: when the next frame has the same
// grid size their leaves are refilled in place instead of being allocated again, which
// keeps a long sequence from paying the page faults of fresh memory on every frame.
#pragma once

#include <memory>
#include <string>

#include "tools/volconvert/FrameConverter.h"

class INeb;

namespace VolConvert {

class VdbFrameExporter {
 public:
  // Initialises the OpenVDB library (once per process).
  VdbFrameExporter();
  ~VdbFrameExporter();
  VdbFrameExporter(const VdbFrameExporter&) = delete;
  VdbFrameExporter& operator=(const VdbFrameExporter&) = delete;

  // Never throws. Results: kExportOk; kExportChannelUnavailable (a present channel gave
  // null, nothing written); kExportWriteFailed (library I/O error); kExportBadTransform;
  // kExportOutOfMemory; kExportFailed with the library's message. The frame is only read.
  ExportResult exportFrame(const std::string& path, INeb& frame);

  // Drops the trees kept from the previous frame.
  void releaseCachedTrees();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace VolConvert
