// How a run's threads are shared between the frames it converts at once.
//
// `--jobs N` is a budget, as a farm task's core count is: N frames at once and N threads
// of work in all, so a task given N cores keeps to them even where the scheduler does not
// pin it. Each frame's decoding gets an equal share of the threads the frames in flight
// leave, and OpenVDB's TBB work the rest: with as many frames as threads, every frame is
// decoded and written on its own job thread alone, and two cores hold two frames instead
// of two frames plus TBB workers competing for them. When the frames run out, a job that
// ends hands its thread to the frames still in flight.
#pragma once

#include <memory>
#include <mutex>

namespace Neb2Vdb {

struct ThreadShare {
  int decodeThreads;  // the library's parallel jobs of each frame, at least 1
  int tbbThreads;     // TBB's allowed parallelism (the job threads count in it), at least 1
};

// `threads` of work, `jobs` frames at once (both at least 1; jobs <= threads is expected).
ThreadShare shareThreads(int threads, int jobs);

// Holds the share for its lifetime, through the library's default thread count and TBB's
// global limit; both are lifted when it ends.
class ThreadBudget {
 public:
  ThreadBudget(int threads, int jobs);
  ~ThreadBudget();
  ThreadBudget(const ThreadBudget&) = delete;
  ThreadBudget& operator=(const ThreadBudget&) = delete;

  // A job thread found no more frames: the others share its thread from their next
  // parallel step on.
  void jobEnded();

 private:
  struct Limit;
  void apply(const ThreadShare& share);  // lock held

  std::mutex lock;
  const int threads;
  int jobs;
  std::unique_ptr<Limit> tbbLimit;
};

}  // namespace Neb2Vdb
