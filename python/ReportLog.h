// The report text of libnebloader.so (and of the package's private layers), captured so
// that Python exceptions can carry the library's reason.
//
// The library's only report hook is a file (nebSetReportFilePath), appended to per
// message. The module points both copies of the layers at one private temporary file and
// remembers its length before a call; the text appended during the call is the reason.
// Calls may overlap (decoding runs with the GIL released), so a reason can contain lines
// of another thread's failure, never fewer than its own. The bookkeeping lines of the
// frame registry ("OstraneFrameData refCount...") are left out.
#pragma once

#include <cstdint>
#include <string>

namespace NebPy {

class ReportLog {
 public:
  // Creates the file and points the report sinks at it. False when no file could be made
  // (reasons are then empty).
  bool start();
  // Turns the sinks off and removes the file.
  void stop();

  // Position to read from after a call.
  int64_t mark();
  // Report text written since `mark`, trimmed.
  std::string since(int64_t mark);

 private:
  std::string path_;
};

ReportLog& reportLog();

}  // namespace NebPy
