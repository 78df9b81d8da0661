// neb2vdb beside volconvert on the sample plume sequence: 10 frames of 256^3 written by
// nebsample (smoke, temperature, fuel, velocity, packed colour, 256 sparks).
//
//   Volconvert/Sequence     volconvert's frame loop over the 10 frames
//   Neb2Vdb/Sequence/jobs:1 neb2vdb's default output (sparse, houdini names, particles),
//                           one frame at a time on one thread (--jobs is a thread budget)
//   Neb2Vdb/Sequence/jobs:2 the same with two frames at once, on two threads
// Each iteration converts the whole sequence; "ms/frame" is the time per frame and
// "frames/s" the throughput. Before the timings the program writes every frame once
// for each output kind (volconvert, default, --half, --dense) and prints their sizes.
//
//   Neb2VdbBench --benchmark_repetitions=5
// NEB2VDB_BENCH_RES / NEB2VDB_BENCH_FRAMES change the sequence (default 256, 10).
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/neb2vdb/Neb2Vdb.h"
#include "tools/volconvert/FrameLoop.h"
#include "tools/volconvert/LibraryFrameConverter.h"
#include "zutils/ConsoleOutput.h"
#include "zutils/platform/Memory.h"

namespace {

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

struct Sequence {
  std::string dir;
  int frames = envInt("NEB2VDB_BENCH_FRAMES", 10);
  int resolution = envInt("NEB2VDB_BENCH_RES", 256);
  bool ok = false;
  Sequence() {
    char name[] = "/tmp/neb2vdb_bench_XXXXXX";
    dir = mkdtemp(name) ? name : "/tmp";
    const std::string command = std::string(NEBSAMPLE_PATH) + " -out " + dir + "/plume_####.neb -frames " +
                                std::to_string(frames) + " -res " + std::to_string(resolution) + " >/dev/null";
    ok = std::system(command.c_str()) == 0;
  }
  ~Sequence() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string pattern(const std::string& stem, const char* ext) const { return dir + "/" + stem + "_####." + ext; }
  long long bytes(const std::string& stem, int frame, const char* ext) const {
    char name[64];
    std::snprintf(name, sizeof name, "/%s_%04d.%s", stem.c_str(), frame, ext);
    struct stat st;
    return stat((dir + name).c_str(), &st) == 0 ? (long long)st.st_size : -1;
  }
};

Sequence& sequence() {
  static Sequence s;
  return s;
}

int runVolconvert(const std::string& stem) {
  Sequence& seq = sequence();
  static VolConvert::LibraryFrameConverter converter;  // trees stay warm, as in the program
  VolConvert::ConvertSettings settings;
  settings.source = seq.pattern("plume", "neb");
  settings.destination = seq.pattern(stem, "vdb");
  settings.sourceGiven = settings.destinationGiven = true;
  settings.endFrame = seq.frames - 1;
  settings.progress = false;
  ZUtils::StringConsole out;
  return VolConvert::runFrameLoop(settings, converter, out);
}

int runNeb2Vdb(const std::string& stem, std::vector<std::string> options) {
  Sequence& seq = sequence();
  std::vector<std::string> args = {"neb2vdb", "-q", "--frames", "0-" + std::to_string(seq.frames - 1)};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(seq.pattern("plume", "neb"));
  args.push_back(seq.pattern(stem, "vdb"));
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  ZUtils::StringConsole out, err;
  return Neb2Vdb::runNeb2Vdb(int(argv.size()), argv.data(), out, err, false);
}

void perFrameCounters(benchmark::State& state) {
  const double frames = sequence().frames;
  state.counters["ms/frame"] =
      benchmark::Counter(frames / 1000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Volconvert(benchmark::State& state) {
  if (!sequence().ok) return state.SkipWithError("nebsample failed");
  for (auto _ : state)
    if (runVolconvert("volconvert") != 0) state.SkipWithError("frames failed");
  perFrameCounters(state);
}

void BM_Neb2Vdb(benchmark::State& state) {
  if (!sequence().ok) return state.SkipWithError("nebsample failed");
  const std::string jobs = std::to_string(state.range(0));
  for (auto _ : state)
    if (runNeb2Vdb("neb2vdb", {"--jobs", jobs}) != 0) state.SkipWithError("frames failed");
  perFrameCounters(state);
}

// One conversion per output kind, untimed, and the table of frame sizes.
void printSizes() {
  Sequence& seq = sequence();
  if (!seq.ok) return;
  runVolconvert("v");
  runNeb2Vdb("d", {});
  runNeb2Vdb("h", {"--half"});
  runNeb2Vdb("x", {"--dense"});
  std::printf("Frame sizes (bytes), %d frames of %d^3:\n%5s %12s %12s %12s %12s %8s\n", seq.frames, seq.resolution,
              "frame", "volconvert", "default", "--half", "--dense", "vc/def");
  bool smaller = true;
  for (int f = 0; f < seq.frames; ++f) {
    const long long v = seq.bytes("v", f, "vdb"), d = seq.bytes("d", f, "vdb");
    smaller = smaller && d <= v;
    std::printf("%5d %12lld %12lld %12lld %12lld %8.2f\n", f, v, d, seq.bytes("h", f, "vdb"), seq.bytes("x", f, "vdb"),
                double(v) / double(d));
  }
  std::printf("default never larger than volconvert: %s\n\n", smaller ? "yes" : "NO");
  std::fflush(stdout);
}

}  // namespace

BENCHMARK(BM_Volconvert)->Name("Volconvert/Sequence")->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Neb2Vdb)->Name("Neb2Vdb/Sequence")->ArgName("jobs")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char** argv) {
  ZUtils::platform::keepFreedHeapMemory();  // as both programs do
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  printSizes();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
