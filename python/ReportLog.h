// The reports of libnebloader.so, received through the C interface's report callback, so
// that Python exceptions carry the library's reason and the `logging` module sees every
// report (logger "nebloader").
//
// The callback may run on any thread, with or without the GIL, while another thread holds
// the GIL and waits for a lock of the library: so it never takes the GIL. It appends the
// report to an in-memory log with a sequence number and to a queue for `logging`, which
// is emptied by flush() on a thread that holds the GIL (after each call into the library).
// A reason is the text logged between mark() before a call and since() after it. Calls
// may overlap (decoding runs with the GIL released), so a reason can contain lines of
// another thread's failure, never fewer than its own. The frame registry's bookkeeping
// lines ("OstraneFrameData refCount...") go to `logging` at DEBUG level and are left out
// of reasons.
#pragma once

#include <cstdint>
#include <string>

namespace NebPy {

class ReportLog {
 public:
  // Installs the report callback; stop() removes it.
  void start();
  void stop();

  // Position to read from after a call.
  int64_t mark();
  // Report text made since `mark`, one line per message, bookkeeping left out.
  std::string since(int64_t mark);
  // Hands the queued reports to `logging`. Needs the GIL.
  void flush();
};

ReportLog& reportLog();

}  // namespace NebPy
