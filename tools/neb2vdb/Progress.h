// What neb2vdb prints while a sequence converts.
//
// On a terminal (standard error), one bar redrawn in place: frames done of the total,
// frames per second and the time left. Otherwise one plain line per frame on standard
// output. --quiet prints neither. Errors always go to standard error, one line each,
// and the closing summary (frames, bytes read and written, time; with --skip-existing the
// frames converted again because their output was out of date) to standard output
// unless --quiet. Calls may come from several job threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "zutils/ConsoleOutput.h"

namespace Neb2Vdb {

class Progress {
 public:
  Progress(ZUtils::ConsoleOutput& out, ZUtils::ConsoleOutput& err, bool terminal, bool quiet, int64_t total);

  // `redone`: the frame's existing output was out of date (SourceState.h).
  void converted(const std::string& source, const std::string& destination, long long bytesIn, long long bytesOut,
                 double seconds, bool redone = false);
  // An output that is up to date, left as it is (--skip-existing).
  void skipped(const std::string& destination);
  // `label`: "frame N (source)" or the source name in single-file mode.
  void failed(const std::string& label, int frame, const std::string& reason);
  void warning(const std::string& text);
  // Clears the bar, prints the failed frames and the summary.
  void finish(int jobs);

  int64_t failures() const { return failed_; }

 private:
  void drawBar();  // under lock_
  void clearBar();

  ZUtils::ConsoleOutput& out_;
  ZUtils::ConsoleOutput& err_;
  const bool terminal_, quiet_;
  const int64_t total_;
  int64_t done_ = 0, converted_ = 0, redone_ = 0, skipped_ = 0, failed_ = 0;
  long long bytesIn_ = 0, bytesOut_ = 0;
  std::vector<int> failedFrames_;
  bool barShown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex lock_;
};

// "12.3 MB" style (decimal units).
std::string formatBytes(long long bytes);

}  // namespace Neb2Vdb
