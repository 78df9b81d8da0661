// The timed loops the decode benchmarks share: one block decoded again and again, and whole
// frames loaded (untimed), decoded channel by channel (timed) and destroyed (untimed).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "cache/OstraneFrameData.h"
#include "ostutils/OstArray.h"
#include "zutils/DefaultThreadCount.h"

// Decodes `block` into `out` (`count` values) once per iteration with `codec`.
template <class Codec>
void timeBlockDecodes(benchmark::State& state, Codec& codec, const OSTUtils::OstArray<char, int64_t>& block,
                      float* out, int64_t count) {
  for (auto _ : state) {
    const bool ok = codec.DecompressBlock(block.data, block.size, out, count);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["compressedBytes"] = static_cast<double>(block.size);
}

// Per iteration: loads the frame at `path` outside the timing, decodes `channelCount`
// channels of `cells` values each, and destroys the frame outside the timing (destruction
// hands the frame's job threads back to the pool: not decoding work).
inline void timeFrameDecodes(benchmark::State& state, const char* path, const int* channels, int channelCount,
                             int64_t cells) {
  for (auto _ : state) {
    state.PauseTiming();
    OstraneFrameData* frame = new OstraneFrameData();
    const int status = frame->ImportNeb(path, true, false);
    state.ResumeTiming();
    bool ok = status == 0;
    for (int k = 0; ok && k < channelCount; ++k) {
      const float* values = frame->getChannel(channels[k]);
      benchmark::DoNotOptimize(values);
      ok = values != nullptr;
    }
    state.PauseTiming();
    delete frame;
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("load or decode failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * cells * channelCount);
  state.counters["threads"] = ZUtils::defaultThreadCount();
}
