// nebinfo --check over the 10-frame 256^3 sample sequence that nebsample writes (smoke,
// temperature, fuel, velocity, packed colour, one particle group), with the frames
// spread over 1 and 2 threads of the pool: every grid and particle channel of every frame
// decoded and checked, as the program does it. The sequence is written once per process.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/nebinfo/FrameRunner.h"

namespace {

const int kFrames = 10;
const int kResolution = 256;

struct SampleSequence {
  std::string dir;
  std::vector<std::string> frames;
  SampleSequence() {
    char name[] = "/tmp/neb_nebinfo_bench_XXXXXX";
    dir = mkdtemp(name) ? name : "";
    const std::string command = std::string("'") + NEBSAMPLE_PATH + "' -out '" + dir + "/plume_####.neb' -frames " +
                                std::to_string(kFrames) + " -res " + std::to_string(kResolution) + " > /dev/null";
    if (dir.empty() || std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "nebsample could not write the sequence\n");
      return;
    }
    for (int f = 0; f < kFrames; ++f) {
      char file[32];
      std::snprintf(file, sizeof file, "/plume_%04d.neb", f);
      frames.push_back(dir + file);
    }
  }
  ~SampleSequence() {
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
  }
};

const SampleSequence& sequence() {
  static SampleSequence s;
  return s;
}

void BM_CheckSampleSequence(benchmark::State& state) {
  const SampleSequence& seq = sequence();
  if (seq.frames.empty()) {
    state.SkipWithError("no sample sequence");
    return;
  }
  NebFrameInfo::SummaryOptions options;
  options.check = true;
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    int sound = 0;
    NebInfo::summarizeFrames(seq.frames, options, threads,
                             [&](const NebFrameInfo::FrameSummary& s) { sound += s.loaded && s.failures.empty(); });
    if (sound != kFrames) {
      state.SkipWithError("a sample frame did not check sound");
      return;
    }
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(kFrames) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CheckSampleSequence)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
