// What the frame loop needs from the outside world: loading a source frame, exporting it,
// releasing it. The program uses newINeb / deleteINeb and the OpenVDB exporter; tests
// substitute their own.
#pragma once

#include <string>

class INeb;

namespace VolConvert {

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
