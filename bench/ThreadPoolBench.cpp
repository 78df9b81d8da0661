// Throughput of the job runner: a fixed per-item workload split by OstParallel over 1 and
// 2 pool threads, inline without a manager, and the bare cost of one empty run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "ostutils/OstParallel.h"
#include "zutils/Report.h"
#include "zutils/ThreadPool.h"

namespace {

void quiet(const char*) {}

// About 40 ns of floating-point work per item, written to a disjoint slot.
class Workload : public OSTUtils::OstParallel {
 public:
  Workload(ZUtils::ThreadManager* m, size_t items) : OSTUtils::OstParallel(m), out(items) {}
  void processJob(OSTUtils::Job* job) override {
    for (int64_t i = job->begin; i < job->end; ++i) {
      float x = static_cast<float>(i) * 0.001f;
      for (int k = 0; k < 8; ++k) x = std::sqrt(x * x + 1.0f) * 0.5f;
      out[static_cast<size_t>(i)] = x;
    }
  }
  std::vector<float> out;
};

void BM_OstParallelWorkload(benchmark::State& state) {
  ZUtils::setDebugOutputSink(&quiet);
  const int threads = static_cast<int>(state.range(0));
  const int64_t items = state.range(1);
  ZUtils::ThreadManager* pool = threads > 0 ? ZUtils::createPoolThreadManager() : nullptr;
  {
    Workload w(pool, static_cast<size_t>(items));
    w.setupJobs(threads > 0 ? threads : -1);
    w.setRange(items);
    for (auto _ : state) {
      w.runJobs(0);
      benchmark::DoNotOptimize(w.out.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * items);
  ZUtils::destroyPoolThreadManager(pool);
  ZUtils::setDebugOutputSink(nullptr);
}
// threads 0 = no manager (inline on the calling thread).
BENCHMARK(BM_OstParallelWorkload)
    ->ArgsProduct({{0, 1, 2}, {1 << 12, 1 << 20}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Round trip of an empty run: wake every job, wait for all.
void BM_OstParallelEmptyRun(benchmark::State& state) {
  ZUtils::setDebugOutputSink(&quiet);
  ZUtils::ThreadManager* pool = ZUtils::createPoolThreadManager();
  {
    OSTUtils::OstParallel p(pool);
    p.setupJobs(static_cast<int>(state.range(0)));
    p.setRange(0);
    for (auto _ : state) p.runJobs(0);
  }
  ZUtils::destroyPoolThreadManager(pool);
  ZUtils::setDebugOutputSink(nullptr);
}
BENCHMARK(BM_OstParallelEmptyRun)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
