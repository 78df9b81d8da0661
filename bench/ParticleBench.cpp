// Particle channel expansion and identifier lookups on groups of a million particles.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "compress/BitPlanes.h"
#include "compress/ParticleChannelMethods.h"
#include "particles/PGroup.h"

namespace {

const int kParticles = 1 << 20;

std::vector<uint32_t> slowIds(int n, int words) {
  std::vector<uint32_t> v(static_cast<size_t>(n) * words);
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < words; ++c) v[static_cast<size_t>(i) * words + c] = c == 0 ? 500000u + 2u * i : 0u;
  return v;
}

void BM_AssembleFromBitPlanes(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const auto channel = slowIds(kParticles, words);
  std::vector<uint32_t> planes(static_cast<size_t>(OSTUtils::BitPlaneWordCount(kParticles, words)));
  OSTUtils::SplitIntoBitPlanes(channel.data(), kParticles, words, planes.data());
  std::vector<uint32_t> out(channel.size());
  for (auto _ : state) {
    OSTUtils::AssembleFromBitPlanes(planes.data(), kParticles, words, 0, kParticles, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()) * 4);
}
BENCHMARK(BM_AssembleFromBitPlanes)->Arg(1)->Arg(2)->Arg(3);

// Whole method-4 expansion of a 64-bit id channel through a group (inflate + PRTIN).
void BM_ExpandIdChannelMethod4(benchmark::State& state) {
  const auto ids = slowIds(kParticles, 2);
  OSTUtils::OstArray<char, int64_t> stored;
  OSTUtils::EncodeChannelBytes(OSTUtils::kChannelZipBitPlanes, ids.data(), kParticles, 2, stored);
  for (auto _ : state) {
    state.PauseTiming();
    PGroup g;
    g.particleCount = kParticles;
    g.channels[10].method = OSTUtils::kChannelZipBitPlanes;
    g.channels[10].stored.SetSize(stored.size, nullptr, true);
    std::memcpy(g.channels[10].stored.data, stored.data, static_cast<size_t>(stored.size));
    state.ResumeTiming();
    benchmark::DoNotOptimize(g.decompressChannel(10, true));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(ids.size()) * 4);
  state.counters["storedBytes"] = static_cast<double>(stored.size);
}
BENCHMARK(BM_ExpandIdChannelMethod4)->Unit(benchmark::kMillisecond);

// Lookups after the index is built (shuffled ids) or against ascending ids (direct search).
void BM_FindParticleById(benchmark::State& state) {
  const bool shuffled = state.range(0) != 0;
  std::vector<int64_t> ids(kParticles);
  for (int i = 0; i < kParticles; ++i) ids[i] = shuffled ? (static_cast<int64_t>(i) * 7919) % kParticles : i;
  PGroup g;
  g.particleCount = kParticles;
  g.setChannel(10, ids.data(), -1);
  g.findParticleById(0);  // builds the index or checks the order once
  int64_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(g.findParticleById(ids[k]));
    k = (k + 104729) % kParticles;
  }
}
BENCHMARK(BM_FindParticleById)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
