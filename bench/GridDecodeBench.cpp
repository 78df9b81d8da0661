// Decoding a 256^3 smoke-like channel on one thread: the grid codec (writer defaults)
// beside zlib on the raw floats and beside a plain copy of the decoded array.
// Counters: values/s (items_per_second) and the compressed sizes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "compress/GridBlockWriter.h"
#include "compress/SGCompressor.h"
#include "support/DecodeLoops.h"
#include "support/SmokeBlobs.h"

namespace {

const int kN = 256;
const int64_t kCount = int64_t(kN) * kN * kN;

const std::vector<float>& plume() {
  static const std::vector<float> grid = smokeBlobs(kN, 1.0f, 0.0f);
  return grid;
}

// One thread decoding the plume written by the block writer's defaults with codec D.
template <int D>
void decodeWithCodec(benchmark::State& state) {
  const std::vector<float>& grid = plume();
  OSTUtils::GridBlockOptions opt = OSTUtils::defaultGridBlockOptions();
  OSTUtils::OstArray<char, int64_t> block;
  const bool written = D == 1 ? OSTUtils::WriteGridBlock1D(grid.data(), kCount, opt, block)
                              : OSTUtils::WriteGridBlock3D(grid.data(), kN, kN, kN, opt, block);
  if (!written) {
    state.SkipWithError("writing the block failed");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  OSTUtils::SGCompressor<D> codec;
  timeBlockDecodes(state, codec, block, out.data(), kCount);
}

void BM_GridCodecDecode(benchmark::State& state) { decodeWithCodec<1>(state); }
BENCHMARK(BM_GridCodecDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GridCodec3DDecode(benchmark::State& state) { decodeWithCodec<3>(state); }
BENCHMARK(BM_GridCodec3DDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZlibDecode(benchmark::State& state) {
  const std::vector<float>& grid = plume();
  const uLong rawBytes = static_cast<uLong>(kCount * 4);
  uLongf packedBytes = compressBound(rawBytes);
  std::vector<Bytef> packed(packedBytes);
  if (compress2(packed.data(), &packedBytes, reinterpret_cast<const Bytef*>(grid.data()), rawBytes, 6) != Z_OK) {
    state.SkipWithError("compress2 failed");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  for (auto _ : state) {
    uLongf outBytes = rawBytes;
    const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &outBytes, packed.data(), packedBytes);
    benchmark::DoNotOptimize(rc);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  state.counters["compressedBytes"] = static_cast<double>(packedBytes);
}
BENCHMARK(BM_ZlibDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyDecoded(benchmark::State& state) {
  const std::vector<float>& grid = plume();
  std::vector<float> out(static_cast<size_t>(kCount));
  for (auto _ : state) {
    std::memcpy(out.data(), grid.data(), static_cast<size_t>(kCount) * 4);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  state.counters["compressedBytes"] = static_cast<double>(kCount * 4);
}
BENCHMARK(BM_CopyDecoded)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
