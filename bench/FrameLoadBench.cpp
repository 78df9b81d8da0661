// Loading a 256^3 frame with smoke, temperature, fuel and velocity (written once by
// NebWriter to /tmp with the writer's default lossy options) and decoding every channel,
// beside reading the same file's bytes. Counter: bytes/s of the file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cache/NebWriter.h"
#include "cache/OstraneFrameData.h"

namespace {

const int kSize = 256;
const char* const kPath = "/tmp/neb_frame_load_bench_256.neb";

// A smoke-like frame: a soft ball of density with a swirl of velocity, empty elsewhere.
const std::string& benchFile() {
  static std::string path;
  if (!path.empty()) return path;
  const int64_t cells = static_cast<int64_t>(kSize) * kSize * kSize;
  std::vector<float> smoke(cells), temperature(cells), fuel(cells), vx(cells), vy(cells), vz(cells);
  for (int z = 0; z < kSize; ++z) {
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const int64_t i = x + kSize * (y + static_cast<int64_t>(kSize) * z);
        const float dx = (x - 128) / 64.0f, dy = (y - 100) / 64.0f, dz = (z - 128) / 64.0f;
        const float r2 = dx * dx + dy * dy + dz * dz;
        const float d = r2 < 1.0f ? (1.0f - r2) * (1.0f + 0.2f * std::sin(x * 0.3f) * std::cos(z * 0.2f)) : 0.0f;
        smoke[i] = d;
        temperature[i] = d > 0.0f ? 300.0f + 900.0f * d : 0.0f;
        fuel[i] = d > 0.5f ? d - 0.5f : 0.0f;
        vx[i] = d > 0.0f ? -dy * 3.0f : 0.0f;
        vy[i] = d > 0.0f ? 2.0f + d : 0.0f;
        vz[i] = d > 0.0f ? dx * 3.0f : 0.0f;
      }
    }
  }
  NebWriter w;
  w.setGridSize(kSize, kSize, kSize);
  w.setFrameNumber(1);
  bool ok = w.addChannel(2, smoke.data()) && w.addChannel(1, temperature.data()) && w.addChannel(10, fuel.data()) &&
            w.addChannel(4, vx.data()) && w.addChannel(5, vy.data()) && w.addChannel(6, vz.data()) && w.write(kPath);
  if (ok) path = kPath;
  return path;
}

int64_t fileSize(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n;
}

void BM_LoadAndDecodeAllChannels(benchmark::State& state) {
  const std::string& path = benchFile();
  if (path.empty()) {
    state.SkipWithError("could not write the frame");
    return;
  }
  const int channels[] = {1, 2, 3, 4, 5, 6, 10};
  for (auto _ : state) {
    OstraneFrameData frame;
    if (frame.ImportNeb(path.c_str(), true, false) != 0) {
      state.SkipWithError("load failed");
      return;
    }
    for (int c : channels) benchmark::DoNotOptimize(frame.getChannel(c));
  }
  state.SetBytesProcessed(state.iterations() * fileSize(path));
  state.counters["file_MB"] = static_cast<double>(fileSize(path)) / 1e6;
}
BENCHMARK(BM_LoadAndDecodeAllChannels)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadHeaderOnly(benchmark::State& state) {
  const std::string& path = benchFile();
  for (auto _ : state) {
    OstraneFrameData frame;
    benchmark::DoNotOptimize(frame.ImportNeb(path.c_str(), true, true));
  }
}
BENCHMARK(BM_LoadHeaderOnly)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ReadFileBytes(benchmark::State& state) {
  const std::string& path = benchFile();
  const int64_t size = fileSize(path);
  std::vector<char> buffer(static_cast<size_t>(size));
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      state.SkipWithError("open failed");
      return;
    }
    benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
    std::fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
