#include "tools/neb2vdb/ThreadBudget.h"

#include <tbb/global_control.h>

#include <algorithm>

#include "zutils/DefaultThreadCount.h"

namespace Neb2Vdb {

ThreadShare shareThreads(int threads, int jobs) {
  threads = std::max(threads, 1);
  jobs = std::clamp(jobs, 1, threads);
  // Frames in flight are job threads already; what they leave goes to each frame's decoding
  // (split evenly) and to TBB workers (shared by all frames).
  return {std::max(1, threads / jobs), threads - jobs + 1};
}

struct ThreadBudget::Limit {
  tbb::global_control control;
  explicit Limit(int threads) : control(tbb::global_control::max_allowed_parallelism, size_t(threads)) {}
};

ThreadBudget::ThreadBudget(int threads, int jobs) : threads(std::max(threads, 1)), jobs(std::max(jobs, 1)) {
  std::lock_guard<std::mutex> hold(lock);
  apply(shareThreads(this->threads, this->jobs));
}

ThreadBudget::~ThreadBudget() {
  std::lock_guard<std::mutex> hold(lock);
  tbbLimit.reset();
  ZUtils::setDefaultThreadCount(0);
}

void ThreadBudget::jobEnded() {
  std::lock_guard<std::mutex> hold(lock);
  if (jobs > 1) apply(shareThreads(threads, --jobs));
}

void ThreadBudget::apply(const ThreadShare& share) {
  ZUtils::setDefaultThreadCount(share.decodeThreads);
  // TBB obeys the smallest limit alive: the new one is made before the old one goes, so the
  // allowed parallelism never passes the larger of the two.
  std::unique_ptr<Limit> next(new Limit(share.tbbThreads));
  tbbLimit.swap(next);
}

}  // namespace Neb2Vdb
