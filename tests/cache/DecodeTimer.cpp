// neb_decode_timer FRAME [REPEATS]: loads a frame and decodes every grid channel through
// the worker pool (QARN_NUM_THREADS threads, else one per processor), REPEATS times
// (default 3), and prints the fastest decode's wall and processor time. Processor time
// above wall time shows the pool's threads really ran at once. scripts/test-windows.sh
// compares the Linux and Windows builds with it.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cache/OstraneFrameData.h"
#include "ostutils/OstParallel.h"
#include "support/ThreadInfo.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FRAME [REPEATS]\n", argv[0]);
    return 2;
  }
  const int repeats = argc == 3 ? std::atoi(argv[2]) : 3;
  if (repeats < 1 || repeats > 100) {
    std::fprintf(stderr, "REPEATS must be 1..100\n");
    return 2;
  }
  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  if (!pool) return 1;
  OSTUtils::RegisterThreadManager(pool);
  double bestWall = 1e30, bestCpu = 0.0;
  int channels = 0;
  bool ok = true;
  for (int r = 0; r < repeats && ok; ++r) {
    OstraneFrameData* frame = new OstraneFrameData();
    ok = frame->ImportNeb(argv[1], true, false) == 0;
    if (ok) {
      channels = 0;
      const double cpu0 = testsupport::processCpuSeconds();
      const auto t0 = std::chrono::steady_clock::now();
      for (int c = 1; c < 32; ++c) {
        if (c == 3 || !frame->hasChannel(c)) continue;  // speed is derived, not decoded
        ok = ok && frame->getChannel(c) != nullptr;
        ++channels;
      }
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      const double cpu = testsupport::processCpuSeconds() - cpu0;
      if (wall < bestWall) {
        bestWall = wall;
        bestCpu = cpu;
      }
    }
    delete frame;
  }
  OSTUtils::UnregisterLastThreadManager();
  ZUtils::destroyPoolThreadManager(pool);
  if (!ok) {
    std::fprintf(stderr, "cannot load or decode %s\n", argv[1]);
    return 1;
  }
  std::printf("%d threads: %d channels decoded in %.3f s wall, %.3f s processor time\n", ZUtils::defaultThreadCount(),
              channels, bestWall, bestCpu);
  return 0;
}
