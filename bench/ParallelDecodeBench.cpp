// Decoding on the worker pool, one thread against two.
//
// BM_ZonedGridDecode/threads:N   one 256^3 smoke-like channel written with the block
//                                writer's defaults, decoded by an SGCompressor<1> that asks
//                                the registered pool for exactly N jobs.
// BM_ZonedGridDecodeDense/...    the same plume over a haze that fills the box.
// BM_FrameDecode                 a 256^3 frame (smoke, temperature, fuel, velocity; written
//                                once to /tmp by NebWriter) loaded outside the timing, then
//                                every grid channel decoded, derived speed included.
// BM_FrameLoadAndDecode          the same with the load inside the timing.
// BM_SamplePlumeGridDecode/channel:N   one channel of the 256^3 sample plume (nebsample's
//                                frame 3 of 10, support/SamplePlume.h: 6 velocity Z, 99%
//                                non-zero; 2 smoke, 42%), written with the block writer's
//                                defaults and decoded by an SGCompressor<1> on one job.
// BM_SamplePlumeChannel/channel:N      the same frame through OstraneFrameData, loaded
//                                outside the timing: buffer set-up, decode and, for 7, the
//                                packed colour record inflated and unpacked into 7, 8, 9
//                                (values/s counts the record's cells once).
// BM_SamplePlumeFrameDecode      every grid channel of that frame, speed and colour included.
//
// The frame's own jobs (its compressor, the speed job) always ask for the process default
// thread count, which is fixed once per process from QARN_NUM_THREADS; run this program
// once with QARN_NUM_THREADS=1 and once with =2 to compare the frame benchmarks (their
// "threads" counter shows the count in force). The zoned benchmark needs no such care.
// Counters: values/s (items_per_second), jobs or threads used.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "cache/OstraneFrameData.h"
#include "compress/GridBlockWriter.h"
#include "compress/SGCompressor.h"
#include "ostutils/OstParallel.h"
#include "support/DecodeLoops.h"
#include "support/SamplePlume.h"
#include "support/SmokeBlobs.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/ThreadPool.h"

namespace {

const int kN = 256;
const int64_t kCount = int64_t(kN) * kN * kN;
const char* const kFramePath = "/tmp/neb_parallel_decode_bench_256.neb";
// Decoded per frame: temperature, smoke, speed (derived), velocity x, y, z, fuel.
const int kFrameChannels[] = {1, 2, 3, 4, 5, 6, 10};
const int kFrameChannelCount = sizeof kFrameChannels / sizeof kFrameChannels[0];

std::vector<float> plume(float scale, float phase) { return smokeBlobs(kN, scale, phase); }

// The plume block is mostly empty space, which the codec stores as constant zones (a fill
// on decoding, bound by memory bandwidth); the dense variant lays a smooth low haze over the
// whole box so that every zone is quantized and entropy decoded.
const OSTUtils::OstArray<char, int64_t>* smokeBlock(bool dense) {
  static OSTUtils::OstArray<char, int64_t> blocks[2];
  static bool ok[2] = {false, false};
  static bool made[2] = {false, false};
  const int k = dense ? 1 : 0;
  if (!made[k]) {
    made[k] = true;
    std::vector<float> smoke = plume(1.0f, 0.0f);
    if (dense) {
      for (int z = 0; z < kN; ++z)
        for (int y = 0; y < kN; ++y)
          for (int x = 0; x < kN; ++x)
            smoke[static_cast<size_t>(x + kN * (y + static_cast<int64_t>(kN) * z))] +=
                0.05f + 0.02f * std::sin(x * 0.11f + y * 0.07f) * std::cos(z * 0.05f - y * 0.03f);
    }
    ok[k] = OSTUtils::WriteGridBlock1D(smoke.data(), kCount, OSTUtils::defaultGridBlockOptions(), blocks[k]);
  }
  return ok[k] ? &blocks[k] : nullptr;
}

// Written once per process; the writer's default (lossy) grid options, version 5 codec.
bool frameFile() {
  static const bool ok = [] {
    NebWriter w;
    w.setGridSize(kN, kN, kN);
    w.setFrameNumber(1);
    bool written = w.addChannel(2, plume(1.0f, 0.0f).data());
    written = written && w.addChannel(1, plume(1200.0f, 0.4f).data());
    written = written && w.addChannel(10, plume(0.3f, 0.8f).data());
    written = written && w.addChannel(4, plume(-2.0f, 1.2f).data());
    written = written && w.addChannel(5, plume(4.0f, 1.6f).data());
    written = written && w.addChannel(6, plume(1.5f, 2.0f).data());
    return written && w.write(kFramePath);
  }();
  return ok;
}

void zonedDecode(benchmark::State& state, bool dense) {
  const OSTUtils::OstArray<char, int64_t>* block = smokeBlock(dense);
  if (!block || !OSTUtils::CurrentThreadManager()) {
    state.SkipWithError("no block or no pool");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  OSTUtils::SGCompressor<1> codec(static_cast<int>(state.range(0)));
  // The first decode sets the jobs up (and borrows their pool threads); keep that out.
  if (!codec.DecompressBlock(block->data, block->size, out.data(), kCount)) {
    state.SkipWithError("decode failed");
    return;
  }
  timeBlockDecodes(state, codec, *block, out.data(), kCount);
  state.counters["jobs"] = codec.getJobCount();
}

void BM_ZonedGridDecode(benchmark::State& state) { zonedDecode(state, false); }
BENCHMARK(BM_ZonedGridDecode)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZonedGridDecodeDense(benchmark::State& state) { zonedDecode(state, true); }
BENCHMARK(BM_ZonedGridDecodeDense)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameDecode(benchmark::State& state) {
  if (!frameFile()) {
    state.SkipWithError("could not write the frame");
    return;
  }
  timeFrameDecodes(state, kFramePath, kFrameChannels, kFrameChannelCount, kCount);
}
BENCHMARK(BM_FrameDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameLoadAndDecode(benchmark::State& state) {
  if (!frameFile()) {
    state.SkipWithError("could not write the frame");
    return;
  }
  for (auto _ : state) {
    OstraneFrameData frame;
    bool ok = frame.ImportNeb(kFramePath, true, false) == 0;
    for (int c : kFrameChannels) {
      const float* values = frame.getChannel(c);
      benchmark::DoNotOptimize(values);
      ok = ok && values;
    }
    if (!ok) {
      state.SkipWithError("load or decode failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kCount * kFrameChannelCount);
  state.counters["threads"] = ZUtils::defaultThreadCount();
}
BENCHMARK(BM_FrameLoadAndDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SamplePlumeGridDecode(benchmark::State& state) {
  const int slot = static_cast<int>(state.range(0));
  const float* values = samplePlumeChannel(slot);
  OSTUtils::OstArray<char, int64_t> block;
  if (!values || !OSTUtils::WriteGridBlock1D(values, kCount, OSTUtils::defaultGridBlockOptions(), block)) {
    state.SkipWithError("writing the block failed");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  OSTUtils::SGCompressor<1> codec(1);
  if (!codec.DecompressBlock(block.data, block.size, out.data(), kCount)) {
    state.SkipWithError("decode failed");
    return;
  }
  timeBlockDecodes(state, codec, block, out.data(), kCount);
}
BENCHMARK(BM_SamplePlumeGridDecode)->ArgName("channel")->Arg(6)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Channels decoded per sample frame: every grid channel, derived speed and colour included.
const int kSampleChannels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

void sampleFrameDecode(benchmark::State& state, const int* channels, int count) {
  const std::string& path = samplePlumeFile();
  if (path.empty()) {
    state.SkipWithError("could not write the sample frame");
    return;
  }
  timeFrameDecodes(state, path.c_str(), channels, count, kCount);
}

void BM_SamplePlumeChannel(benchmark::State& state) {
  const int channel = static_cast<int>(state.range(0));
  sampleFrameDecode(state, &channel, 1);
}
BENCHMARK(BM_SamplePlumeChannel)->ArgName("channel")->Arg(6)->Arg(2)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SamplePlumeFrameDecode(benchmark::State& state) {
  sampleFrameDecode(state, kSampleChannels, sizeof kSampleChannels / sizeof kSampleChannels[0]);
}
BENCHMARK(BM_SamplePlumeFrameDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Every benchmark runs with the pool registered, as a host that passed one to the loader.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  if (!pool) return 1;
  OSTUtils::RegisterThreadManager(pool);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  OSTUtils::UnregisterLastThreadManager();
  ZUtils::destroyPoolThreadManager(pool);
  return 0;
}
