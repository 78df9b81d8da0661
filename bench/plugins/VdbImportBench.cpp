// Loading a 256^3 OpenVDB smoke grid as a frame through the vdbport plug-in, on the
// calling thread and on a 2-thread pool, full size and under a voxel limit, beside
// OpenVDB reading the same grid alone (the floor: the plug-in reads the file through it).
#include <benchmark/benchmark.h>
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "nebloader.h"
#include "support/SmokeBlobs.h"

namespace {

const int kSide = 256;

// A scratch directory with the plug-in linked in as vdbport_bench.so and the grid file.
struct Files {
  std::string dir, vdb;
  Files() {
    char name[] = "/tmp/neb_vdbbench_XXXXXX";
    dir = mkdtemp(name) ? name : "/tmp";
    vdb = dir + "/smoke.vdb";
    if (symlink(VDBPORT_PATH, (dir + "/vdbport_bench.so").c_str()) != 0) std::perror("symlink");
    openvdb::initialize();
    const std::vector<float> v = smokeBlobs(kSide, 1.0f, 0.0f);
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(0.0f);
    grid->setName("density");
    auto acc = grid->getAccessor();
    size_t j = 0;
    for (int z = 0; z < kSide; ++z)
      for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x, ++j) acc.setValue(openvdb::Coord(x, y, z), v[j]);  // all active
    openvdb::io::File file(vdb);
    file.write({grid});
    file.close();
  }
  ~Files() { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
};

Files& files() {
  static Files f;
  return f;
}

void loadFrames(benchmark::State& state, long long maxVoxels) {
  const std::string path = files().vdb;
  for (auto _ : state) {
    // A voxel limit (even "none" through the limited form) keeps the frame unshared, so
    // every iteration loads.
    INeb* f = newINebWithChannelsMappingMaxVox(path.c_str(), "2,density;", maxVoxels, false);
    if (!f) {
      state.SkipWithError("load failed");
      return;
    }
    benchmark::DoNotOptimize(f->getChannel(2));
    deleteINeb(f);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide * kSide);
}

void BM_VdbImport(benchmark::State& state) {
  const bool pooled = state.range(0) == 2;
  const long long limit = state.range(1) ? 1 << 21 : -1;
  ZUtils::ThreadManager* pool = pooled ? createDefaultThreadManager() : nullptr;
  if (initalizeNebuLoader(files().dir.c_str(), "bench", 0, pool) != 2) {
    state.SkipWithError("plug-in not loaded");
    return;
  }
  loadFrames(state, limit == -1 ? (1LL << 40) : limit);
  finalizeNebuLoader();
  if (pool) destroyDefaultThreadManager(pool);
  state.counters["threads"] = pooled ? 2 : 1;
}
BENCHMARK(BM_VdbImport)->ArgsProduct({{1, 2}, {0, 1}})->ArgNames({"threads", "limited"})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenVdbReadAlone(benchmark::State& state) {
  const std::string path = files().vdb;
  for (auto _ : state) {
    openvdb::io::File file(path);
    file.open(false);
    openvdb::GridBase::Ptr grid = file.readGrid("density");
    benchmark::DoNotOptimize(grid.get());
    file.close();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide * kSide);
}
BENCHMARK(BM_OpenVdbReadAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
