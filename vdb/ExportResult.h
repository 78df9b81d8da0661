// What exporting a frame to an OpenVDB file gives: a result code and, for codes without a
// fixed text, the reason. Shared by volconvert's and neb2vdb's exporters.
#pragma once

#include <string>

namespace NebVdb {

// Export result codes. 1 and 2 have fixed texts in the error line; every other failure
// carries its own reason text.
enum ExportCode {
  kExportOk = 0,
  kExportChannelUnavailable = 1,  // a present channel could not be provided; nothing written
  kExportWriteFailed = 2,         // the OpenVDB library reported an I/O error
  kExportBadTransform = 3,        // 3x3 part of the frame transform singular or not finite
  kExportOutOfMemory = 4,
  kExportFailed = 5               // any other library or runtime failure; see reason
};

struct ExportResult {
  int code = kExportOk;
  std::string reason;  // used for codes other than 0, 1 and 2
};

}  // namespace NebVdb
