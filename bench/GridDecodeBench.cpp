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

namespace {

const int kN = 256;
const int64_t kCount = int64_t(kN) * kN * kN;

// A smooth plume: a few soft blobs along a rising, drifting column, zero outside.
const std::vector<float>& plume() {
  static std::vector<float> grid = [] {
    std::vector<float> v(static_cast<size_t>(kCount), 0.0f);
    struct Blob {
      float x, y, z, r, a;
    };
    std::vector<Blob> blobs;
    for (int i = 0; i < 12; ++i) {
      const float t = i / 11.0f;
      blobs.push_back(Blob{128.0f + 30.0f * std::sin(t * 5.0f), 40.0f + 170.0f * t, 128.0f + 20.0f * std::cos(t * 4.0f),
                           25.0f + 30.0f * t, 1.0f - 0.5f * t});
    }
    for (int z = 0; z < kN; ++z)
      for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
          float d = 0.0f;
          for (const Blob& b : blobs) {
            const float dx = (x - b.x) / b.r, dy = (y - b.y) / b.r, dz = (z - b.z) / b.r;
            const float q = dx * dx + dy * dy + dz * dz;
            if (q < 1.0f) d += b.a * (1.0f - q) * (1.0f - q);
          }
          v[static_cast<size_t>(x + kN * (y + static_cast<int64_t>(kN) * z))] = d;
        }
    return v;
  }();
  return grid;
}

void BM_GridCodecDecode(benchmark::State& state) {
  const std::vector<float>& grid = plume();
  OSTUtils::GridBlockOptions opt = OSTUtils::defaultGridBlockOptions();
  OSTUtils::OstArray<char, int64_t> block;
  if (!OSTUtils::WriteGridBlock1D(grid.data(), kCount, opt, block)) {
    state.SkipWithError("writing the block failed");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  OSTUtils::SGCompressor<1> codec;
  for (auto _ : state) {
    const bool ok = codec.DecompressBlock(block.data, block.size, out.data(), kCount);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  state.counters["compressedBytes"] = static_cast<double>(block.size);
}
BENCHMARK(BM_GridCodecDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GridCodec3DDecode(benchmark::State& state) {
  const std::vector<float>& grid = plume();
  OSTUtils::GridBlockOptions opt = OSTUtils::defaultGridBlockOptions();
  OSTUtils::OstArray<char, int64_t> block;
  if (!OSTUtils::WriteGridBlock3D(grid.data(), kN, kN, kN, opt, block)) {
    state.SkipWithError("writing the block failed");
    return;
  }
  std::vector<float> out(static_cast<size_t>(kCount));
  OSTUtils::SGCompressor<3> codec;
  for (auto _ : state) {
    const bool ok = codec.DecompressBlock(block.data, block.size, out.data(), kCount);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  state.counters["compressedBytes"] = static_cast<double>(block.size);
}
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
