// Reading every channel of a frame through the public interface, as a host does:
// newINeb, getChannel of each channel present (decoding it), deleteINeb; and the same
// through the C interface (neb_frame_open, neb_frame_channel, neb_frame_close). These are
// the C++ and C sides of the Python comparison (bench/python_channel_reads.py runs it beside the same
// reads through the nebloader package, in one run); run alone it times a 256^3 frame
// written here. NEB_BENCH_FRAME names another frame (tools/nebsample writes 256^3 ones).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/SmokeBlobs.h"
#include "cache/NebWriter.h"
#include "nebloader.h"
#include "nebloader_c.h"

namespace {

const char* const kOwnFrame = "/tmp/neb_channel_read_bench_256.neb";

std::string benchFrame() {
  if (const char* path = std::getenv("NEB_BENCH_FRAME")) return path;
  static bool written = false;
  if (!written) {
    const int n = 256;
    NebWriter w;
    w.setGridSize(n, n, n);
    const std::vector<float> smoke = smokeBlobs(n, 1.0f, 0.0f), heat = smokeBlobs(n, 900.0f, 0.7f);
    written = w.addChannel(NEB_CHANNEL_SMOKE, smoke.data()) && w.addChannel(NEB_CHANNEL_TEMPERATURE, heat.data()) &&
              w.write(kOwnFrame);
  }
  return written ? kOwnFrame : "";
}

void BM_ReadEveryChannel(benchmark::State& state) {
  const std::string path = benchFrame();
  for (auto _ : state) {
    INeb* frame = newINeb(path.c_str());
    if (!frame) {
      state.SkipWithError("the frame could not be loaded");
      return;
    }
    for (int c = 0; c < 32; ++c) {
      if (frame->hasChannel(c)) benchmark::DoNotOptimize(frame->getChannel(c));
    }
    deleteINeb(frame);
  }
}
BENCHMARK(BM_ReadEveryChannel)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadEveryChannelC(benchmark::State& state) {
  const std::string path = benchFrame();
  for (auto _ : state) {
    neb_frame* frame = nullptr;
    if (neb_frame_open(path.c_str(), nullptr, -1, 0, &frame) != NEB_OK) {
      state.SkipWithError("the frame could not be loaded");
      return;
    }
    for (int c = 0; c < NEB_CHANNELS; ++c) {
      const float* values = nullptr;
      if (neb_frame_has_channel(frame, c) == 1) benchmark::DoNotOptimize(neb_frame_channel(frame, c, &values));
    }
    neb_frame_close(frame);
  }
}
BENCHMARK(BM_ReadEveryChannelC)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
