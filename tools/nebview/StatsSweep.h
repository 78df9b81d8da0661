// Per-frame statistics over the whole sequence, computed in the background: the frame
// summary with value statistics (every grid channel's minimum, maximum, mean and non-zero
// count, every particle channel's, the particle counts) for one frame after another, on a
// thread of its own that reads only when nothing else waits to (LoadGate). The page plots
// them (the total of smoke, the largest temperature, the particle count, ...) and shows
// the progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/nebview/ResponseCache.h"
#include "tools/nebview/Sequence.h"

namespace NebView {

class StatsSweep {
 public:
  StatsSweep(const Sequence& sequence, LoadGate& gate) : sequence_(sequence), gate_(gate) {}
  ~StatsSweep();
  StatsSweep(const StatsSweep&) = delete;
  StatsSweep& operator=(const StatsSweep&) = delete;

  // Starts the sweep on its first call.
  void start();
  // {"total": frames, "done": frames summarised, "frames": [{"index", "number", "summary"}
  // for the frames from `from` on that are done]}.
  std::string json(int64_t from);

 private:
  void run();

  const Sequence& sequence_;
  LoadGate& gate_;
  std::once_flag started_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> done_;  // one JSON object per frame, in sequence order
};

}  // namespace NebView
