#include "tools/neb2vdb/Progress.h"

#include <algorithm>
#include <cstdio>

namespace Neb2Vdb {

namespace {

std::string printed(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::string clock(double seconds) {
  const long s = long(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string formatBytes(long long bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  if (bytes < 1000000) return printed("%.1f kB", bytes / 1e3);
  if (bytes < 1000000000) return printed("%.1f MB", bytes / 1e6);
  return printed("%.2f GB", bytes / 1e9);
}

Progress::Progress(ZUtils::ConsoleOutput& out, ZUtils::ConsoleOutput& err, bool terminal, bool quiet,
                   int64_t total)
    : out_(out), err_(err), terminal_(terminal && !quiet), quiet_(quiet), total_(total),
      start_(std::chrono::steady_clock::now()) {
  std::lock_guard<std::mutex> hold(lock_);
  if (terminal_) drawBar();
}

void Progress::drawBar() {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const int width = 30;
  const int filled = total_ > 0 ? int(done_ * width / total_) : width;
  std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
                    std::to_string(done_) + "/" + std::to_string(total_) + " frames";
  const int64_t worked = converted_ + failed_;
  if (worked > 0 && elapsed > 0) {
    const double rate = double(worked) / elapsed;
    bar += printed("  %.2f frames/s", rate) + "  " + clock(double(total_ - done_) / rate) + " left";
  }
  err_.write(bar + "\033[K");
  barShown_ = true;
}

void Progress::clearBar() {
  if (barShown_) err_.write("\r\033[K");
  barShown_ = false;
}

void Progress::converted(const std::string& source, const std::string& destination, long long bytesIn,
                         long long bytesOut, double seconds, bool redone) {
  std::lock_guard<std::mutex> hold(lock_);
  ++done_;
  ++converted_;
  redone_ += redone ? 1 : 0;
  bytesIn_ += bytesIn;
  bytesOut_ += bytesOut;
  if (terminal_) return drawBar();
  if (!quiet_)
    out_.write("[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " + source + " -> " + destination +
               ": " + formatBytes(bytesOut) + printed(" in %.2f s", seconds) + (redone ? " (was out of date)\n" : "\n"));
}

void Progress::skipped(const std::string& destination) {
  std::lock_guard<std::mutex> hold(lock_);
  ++done_;
  ++skipped_;
  if (terminal_) return drawBar();
  if (!quiet_)
    out_.write("[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " + destination +
               " is up to date, skipped\n");
}

void Progress::failed(const std::string& label, int frame, const std::string& reason) {
  std::lock_guard<std::mutex> hold(lock_);
  ++done_;
  ++failed_;
  failedFrames_.push_back(frame);
  clearBar();
  err_.write("neb2vdb: " + label + ": " + reason + "\n");
  if (terminal_) drawBar();
}

void Progress::warning(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  clearBar();
  err_.write("neb2vdb: warning: " + text + "\n");
  if (terminal_) drawBar();
}

void Progress::finish(int jobs) {
  std::lock_guard<std::mutex> hold(lock_);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  clearBar();
  if (!failedFrames_.empty() && total_ > 1) {
    std::sort(failedFrames_.begin(), failedFrames_.end());
    std::string list;
    for (int f : failedFrames_) list += (list.empty() ? "" : ", ") + std::to_string(f);
    err_.write("neb2vdb: failed frames: " + list + "\n");
  }
  if (quiet_) return;
  out_.write("neb2vdb: " + std::to_string(total_) + (total_ == 1 ? " frame: " : " frames: ") +
             std::to_string(converted_) + " converted, " + std::to_string(skipped_) + " skipped, " +
             std::to_string(failed_) + " failed; " +
             (redone_ ? std::to_string(redone_) + " redone as out of date; " : std::string()) + formatBytes(bytesIn_) + " read, " + formatBytes(bytesOut_) +
             " written; " + printed("%.1f s", elapsed) + " with " + std::to_string(jobs) +
             (jobs == 1 ? " job\n" : " jobs\n"));
}

}  // namespace Neb2Vdb
