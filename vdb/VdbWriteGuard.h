// Turning what writing a frame to an OpenVDB file throws into an ExportResult, for every
// exporter of frames.
#pragma once

#include <functional>

#include "vdb/ExportResult.h"

namespace NebVdb {

// Reason of kExportBadTransform.
extern const char* const kSingularTransformReason;

ExportResult exportFailure(int code, const char* reason);

// Runs `run` and maps its exceptions: openvdb::IoError -> kExportWriteFailed,
// std::bad_alloc -> kExportOutOfMemory ("Out of memory"), any other exception ->
// kExportFailed with its what() (OpenVDB's name their kind: "ArithmeticError: ..."),
// anything else -> kExportFailed "Unknown failure". Never throws.
ExportResult guardedVdbWrite(const std::function<ExportResult()>& run);

}  // namespace NebVdb
