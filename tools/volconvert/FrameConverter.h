// What the frame loop needs from the outside world: loading a source frame, exporting it,
// releasing it. The program uses newINeb / deleteINeb and the OpenVDB exporter; tests
// substitute their own.
#pragma once

#include <string>

#include "vdb/ExportResult.h"

class INeb;

namespace VolConvert {

// The export results are the conversion library's (vdb/, namespace NebVdb).
using NebVdb::ExportCode;
using NebVdb::ExportResult;
using NebVdb::kExportOk;
using NebVdb::kExportChannelUnavailable;
using NebVdb::kExportWriteFailed;
using NebVdb::kExportBadTransform;
using NebVdb::kExportOutOfMemory;
using NebVdb::kExportFailed;

class FrameConverter {
 public:
  virtual ~FrameConverter() = default;
  // Null when the frame cannot be loaded.
  virtual INeb* loadFrame(const std::string& path) = 0;
  // Called once for every frame loadFrame returned, whatever the export gave.
  virtual void releaseFrame(INeb* frame) = 0;
  // Must not throw.
  virtual ExportResult exportFrame(const std::string& destination, INeb& frame) = 0;
};

}  // namespace VolConvert
