// Converting a sequence of 256^3 frames with every exported channel (smoke, temperature,
// fuel, velocity, colour: nine grids), split into the steps of one frame:
//   LoadDecode   newINeb + getChannel of the nine channels + deleteINeb
//   GridBuild    the nine dense trees refilled in place (steady state) / built fresh
//   FileWrite    io::File writing the nine grids: what OpenVDB needs alone
//   WholeFrame   volconvert's frame loop: load, decode, build, write
// The frames cycle so that each iteration loads another file; the exporter's trees stay
// warm from frame to frame as they do in the program.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include "cache/NebWriter.h"
#include "nebloader.h"
#include "tools/nebsample/SmokePlume.h"
#include "tools/volconvert/FrameLoop.h"
#include "tools/volconvert/LibraryFrameConverter.h"
#include "tools/volconvert/VdbFrameExporter.h"
#include "vdb/DenseFloatTree.h"
#include "zutils/platform/Memory.h"

namespace {

const int kResolution = 256;
const int kFrames = 3;
const int kLoopFrames = 6;
const int kChannels[9] = {2, 1, 10, 4, 5, 6, 7, 8, 9};
const char* const kNames[9] = {"Smoke_ost",     "Temperature_ost", "Fuel_ost",   "VelocityX_ost", "VelocityY_ost",
                               "VelocityZ_ost", "ColorR_ost",      "ColorG_ost", "ColorB_ost"};

// The source sequence, written once per process.
struct Sequence {
  std::string dir;
  std::vector<std::string> frames;
  Sequence() {
    char name[] = "/tmp/neb_volconvert_bench_XXXXXX";
    dir = mkdtemp(name) ? name : "/tmp";
    NebSample::PlumeFrame plume;
    for (int f = 0; f < kFrames; ++f) {
      NebSample::makePlumeFrame(f + 4, 10, kResolution, plume);
      NebWriter w;
      w.setGridSize(kResolution, kResolution, kResolution);
      w.setTransform(plume.transform);
      w.addChannel(2, plume.smoke.data());
      w.addChannel(1, plume.temperature.data());
      w.addChannel(10, plume.fuel.data());
      w.addChannel(4, plume.velocityX.data());
      w.addChannel(5, plume.velocityY.data());
      w.addChannel(6, plume.velocityZ.data());
      // Stored colour channels, so that all nine grids come from the grid codec.
      std::vector<float> c(plume.colour.size());
      for (int k = 0; k < 3; ++k) {
        for (size_t j = 0; j < c.size(); ++j) c[j] = float((plume.colour[j] >> (16 - 8 * k)) & 0xff) / 255.0f;
        w.addChannel(7 + k, c.data());
      }
      frames.push_back(dir + "/plume_" + std::to_string(f) + ".neb");
      if (!w.write(frames.back().c_str())) std::fprintf(stderr, "cannot write %s\n", frames.back().c_str());
    }
    // A longer sequence for the frame loop: seq_0000.neb .. seq_0005.neb, links to the
    // three files (different names are different frames to the loader).
    for (int f = 0; f < kLoopFrames; ++f) {
      char link[64];
      std::snprintf(link, sizeof link, "/seq_%04d.neb", f);
      if (symlink(frames[f % kFrames].c_str(), (dir + link).c_str()) != 0) std::perror("symlink");
    }
  }
  ~Sequence() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string output() const { return dir + "/out.vdb"; }
};

Sequence& sequence() {
  static Sequence s;
  return s;
}

// A loaded frame with its nine decoded channels.
struct LoadedFrame {
  INeb* frame = nullptr;
  const float* channels[9] = {};
  int size[3] = {0, 0, 0};
  explicit LoadedFrame(const std::string& path) {
    frame = newINeb(path.c_str());
    if (!frame) return;
    frame->getGridSize(size);
    for (int i = 0; i < 9; ++i) channels[i] = frame->getChannel(kChannels[i]);
  }
  ~LoadedFrame() { deleteINeb(frame); }
  bool ok() const {
    for (const float* c : channels)
      if (!c) return false;
    return frame != nullptr;
  }
};

void BM_LoadDecode(benchmark::State& state) {
  Sequence& seq = sequence();
  size_t f = 0;
  for (auto _ : state) {
    LoadedFrame frame(seq.frames[f++ % seq.frames.size()]);
    if (!frame.ok()) state.SkipWithError("load failed");
  }
}

// The nine grids of a frame, as the exporter makes them.
openvdb::GridCPtrVec makeGrids(NebVdb::DenseFloatTree (&trees)[9], const LoadedFrame& frame) {
  openvdb::GridCPtrVec grids;
  for (int i = 0; i < 9; ++i) {
    trees[i].fill(frame.channels[i], frame.size);
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(trees[i].tree());
    grid->setName(kNames[i]);
    grid->setTransform(openvdb::math::Transform::createLinearTransform(1.0 / 128.0));
    grids.push_back(grid);
  }
  return grids;
}

void BM_GridBuildWarm(benchmark::State& state) {
  openvdb::initialize();
  LoadedFrame frame(sequence().frames[0]);
  if (!frame.ok()) return state.SkipWithError("load failed");
  NebVdb::DenseFloatTree trees[9];
  for (int i = 0; i < 9; ++i) trees[i].fill(frame.channels[i], frame.size);
  for (auto _ : state)
    for (int i = 0; i < 9; ++i) trees[i].fill(frame.channels[i], frame.size);
  state.counters["voxels/s"] = benchmark::Counter(9.0 * kResolution * kResolution * kResolution,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GridBuildFresh(benchmark::State& state) {
  openvdb::initialize();
  LoadedFrame frame(sequence().frames[0]);
  if (!frame.ok()) return state.SkipWithError("load failed");
  for (auto _ : state) {
    auto* trees = new NebVdb::DenseFloatTree[9];
    for (int i = 0; i < 9; ++i) trees[i].fill(frame.channels[i], frame.size);
    state.PauseTiming();
    delete[] trees;
    state.ResumeTiming();
  }
}

// What OpenVDB needs to write the nine grids, nothing else.
void BM_FileWriteAlone(benchmark::State& state) {
  openvdb::initialize();
  LoadedFrame frame(sequence().frames[0]);
  if (!frame.ok()) return state.SkipWithError("load failed");
  NebVdb::DenseFloatTree trees[9];
  const openvdb::GridCPtrVec grids = makeGrids(trees, frame);
  openvdb::MetaMap metadata;
  metadata.insertMeta("OstraneVDBVer", openvdb::Int32Metadata(0));
  for (auto _ : state) {
    openvdb::io::File file(sequence().output());
    file.write(grids, metadata);
    file.close();
  }
}

// The frame loop of volconvert over six frames (all writing the same output file);
// reported per frame. The converter, and with it the trees, lives across iterations.
void BM_WholeFrame(benchmark::State& state) {
  Sequence& seq = sequence();
  VolConvert::LibraryFrameConverter converter;
  VolConvert::ConvertSettings settings;
  settings.source = seq.dir + "/seq_####.neb";
  settings.destination = seq.output();
  settings.sourceGiven = settings.destinationGiven = true;
  settings.endFrame = kLoopFrames - 1;
  settings.progress = false;
  ZUtils::StringConsole warm;
  if (VolConvert::runFrameLoop(settings, converter, warm) != 0) return state.SkipWithError(warm.text().c_str());
  for (auto _ : state) {
    ZUtils::StringConsole out;
    if (VolConvert::runFrameLoop(settings, converter, out) != 0) state.SkipWithError(out.text().c_str());
  }
  state.counters["ms/frame"] = benchmark::Counter(kLoopFrames / 1000.0, benchmark::Counter::kIsIterationInvariantRate |
                                                                            benchmark::Counter::kInvert);
}


}  // namespace

BENCHMARK(BM_LoadDecode)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_GridBuildWarm)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_GridBuildFresh)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FileWriteAlone)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_WholeFrame)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv) {
  // As the program does: freed frame buffers stay warm for the next frame.
  ZUtils::platform::keepFreedHeapMemory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
