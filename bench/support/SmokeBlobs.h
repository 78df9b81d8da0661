// The smoke-like test channel of the decode benchmarks: a few soft blobs along a rising,
// drifting column, zero outside (so most zones of a block are constant), x fastest.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

inline std::vector<float> smokeBlobs(int n, float scale, float phase) {
  const int64_t count = int64_t(n) * n * n;
  std::vector<float> v(static_cast<size_t>(count), 0.0f);
  struct Blob {
    float x, y, z, r, a;
  };
  // Positions are laid out for n = 256 and scale with the grid.
  const float s = n / 256.0f;
  std::vector<Blob> blobs;
  for (int i = 0; i < 12; ++i) {
    const float t = i / 11.0f;
    blobs.push_back(Blob{s * (128.0f + 30.0f * std::sin(t * 5.0f + phase)), s * (40.0f + 170.0f * t),
                         s * (128.0f + 20.0f * std::cos(t * 4.0f + phase)), s * (25.0f + 30.0f * t), 1.0f - 0.5f * t});
  }
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        float d = 0.0f;
        for (const Blob& b : blobs) {
          const float dx = (x - b.x) / b.r, dy = (y - b.y) / b.r, dz = (z - b.z) / b.r;
          const float q = dx * dx + dy * dy + dz * dz;
          if (q < 1.0f) d += b.a * (1.0f - q) * (1.0f - q);
        }
        v[static_cast<size_t>(x + int64_t(n) * (y + int64_t(n) * z))] = scale * d;
      }
  return v;
}
