#include "tools/nebinfo/FrameRunner.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace NebInfo {

using NebFrameInfo::FrameSummary;
using NebFrameInfo::SummaryOptions;

namespace {

class FrameBatch {
 public:
  FrameBatch(const std::vector<std::string>& paths, const SummaryOptions& options,
             const std::function<void(const FrameSummary&)>& done)
      : paths_(paths), options_(options), done_(done), results_(paths.size()), finished_(paths.size(), false) {}

  void run() {
    for (;;) {
      const size_t i = next_.fetch_add(1);
      if (i >= paths_.size()) return;
      NebFrameInfo::summarizeFrame(paths_[i], options_, results_[i]);
      std::lock_guard<std::mutex> lock(lock_);
      finished_[i] = true;
      // Hand over every finished summary at the head of the list, then free it: a long
      // sequence keeps only the frames that wait for an earlier one.
      while (printed_ < paths_.size() && finished_[printed_]) {
        done_(results_[printed_]);
        results_[printed_] = FrameSummary();
        ++printed_;
      }
    }
  }

 private:
  const std::vector<std::string>& paths_;
  const SummaryOptions& options_;
  const std::function<void(const FrameSummary&)>& done_;
  std::vector<FrameSummary> results_;
  std::vector<bool> finished_;
  std::atomic<size_t> next_{0};
  size_t printed_ = 0;  // guarded by lock_
  std::mutex lock_;
};

}  // namespace

void summarizeFrames(const std::vector<std::string>& paths, const SummaryOptions& options, int threads,
                     const std::function<void(const FrameSummary&)>& done) {
  FrameBatch batch(paths, options, done);
  if (threads > static_cast<int>(paths.size())) threads = static_cast<int>(paths.size());
  if (threads < 1) threads = 1;
  std::vector<std::thread> workers;
  try {
    for (int t = 0; t < threads; ++t) workers.emplace_back([&batch]() { batch.run(); });
  } catch (...) {
    // Fewer threads than asked for: those started (or, with none, this one) do the rest.
  }
  if (workers.empty()) batch.run();
  for (std::thread& w : workers) w.join();
}

}  // namespace NebInfo
