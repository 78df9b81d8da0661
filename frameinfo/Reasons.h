// Why something failed, in the library's words, on one line: the reports it made on the
// calling thread while a piece of work ran (ReportCapture), or the reason it keeps for the
// thread's last failed call (lastFailure).
#pragma once

#include <string>

namespace NebFrameInfo {

// Routes the library's reports (neb_set_report_callback) to the capture of the reporting
// thread. Once per process, before the first ReportCapture. Reports made on a thread
// without a capture are dropped, so the decoders must run on the capturing thread (no
// worker pool: neb_initialize with threads -1).
void installReportCapture();

// Appends every report the library makes on this thread to `sink` while it lives; the
// capture it replaced comes back afterwards.
class ReportCapture {
 public:
  explicit ReportCapture(std::string* sink);
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

 private:
  std::string* previous_;
};

// Captured reports as one line: the messages joined by "; ", blanks trimmed; `fallback`
// when there are none.
std::string reasonOf(const std::string& reports, const char* fallback);

// The reason of the calling thread's last failed call (neb_last_error: "function: status
// text", then the reports the call made, one per line) on one line and without the
// function's name: "status text: report; report".
std::string lastFailure();

}  // namespace NebFrameInfo
