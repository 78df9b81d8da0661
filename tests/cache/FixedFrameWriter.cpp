// neb_write_fixed OUT.neb [N]: writes one frame from arrays made with integer and float
// arithmetic only (no library math functions, whose last bits differ between C runtimes),
// so that builds for different systems start from exactly the same arrays. The files
// must then be byte-identical (scripts/test-windows.sh compares the Linux and Windows
// writers'). Grid N^3 (default 48) with every stored channel kind, packed colour, and one
// particle group with positions, velocities and identifiers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cache/NebWriter.h"

namespace {

uint32_t hash32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

// A smooth blob plus a little hashed noise, in [0, 1).
float field(int x, int y, int z, int n, uint32_t seed) {
  const float c = 0.5f * static_cast<float>(n);
  const float dx = (static_cast<float>(x) - c) / c, dy = (static_cast<float>(y) - c) / c,
              dz = (static_cast<float>(z) - c) / c;
  const float r2 = dx * dx + dy * dy + dz * dz;
  const float blob = r2 < 1.0f ? (1.0f - r2) * (1.0f - r2) : 0.0f;
  const float noise = static_cast<float>(hash32(seed ^ static_cast<uint32_t>(x + n * (y + n * z))) >> 8) / 16777216.0f;
  return blob * (0.9f + 0.1f * noise);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUT.neb [N]\n", argv[0]);
    return 2;
  }
  const int n = argc == 3 ? std::atoi(argv[2]) : 48;
  if (n < 2 || n > 512) {
    std::fprintf(stderr, "N must be 2..512\n");
    return 2;
  }
  const size_t cells = static_cast<size_t>(n) * n * n;
  std::vector<float> smoke(cells), temperature(cells), fuel(cells), vx(cells), vy(cells), vz(cells);
  std::vector<uint32_t> colour(cells);
  for (int z = 0; z < n; ++z) {
    for (int y = 0; y < n; ++y) {
      for (int x = 0; x < n; ++x) {
        const size_t i = static_cast<size_t>(x) + static_cast<size_t>(n) * (y + static_cast<size_t>(n) * z);
        smoke[i] = field(x, y, z, n, 1);
        temperature[i] = 2.5f * field(x, y, z, n, 2);
        fuel[i] = x > n / 2 ? 0.0f : field(x, y, z, n, 3);  // half empty: constant zones
        vx[i] = field(x, y, z, n, 4) - 0.5f;
        vy[i] = 3.0f * field(x, y, z, n, 5);
        vz[i] = 0.25f - field(x, y, z, n, 6);
        const uint32_t level = static_cast<uint32_t>(smoke[i] * 255.0f);
        colour[i] = level << 16 | (255u - level) << 8 | (hash32(static_cast<uint32_t>(i)) & 0xffu);
      }
    }
  }
  const int count = 1000;
  std::vector<float> positions(count * 3), velocities(count * 3);
  std::vector<int64_t> ids(count);  // slot 10 holds 64-bit identifiers
  for (int p = 0; p < count; ++p) {
    for (int k = 0; k < 3; ++k) {
      positions[p * 3 + k] = static_cast<float>(hash32(static_cast<uint32_t>(p * 3 + k)) % 10000u) / 1000.0f;
      velocities[p * 3 + k] = static_cast<float>(hash32(static_cast<uint32_t>(p * 3 + k + 77777)) % 2001u) / 1000.0f - 1.0f;
    }
    ids[p] = static_cast<int64_t>(hash32(static_cast<uint32_t>(p))) << 20 | p;
  }
  const float transform[12] = {0.125f, 0, 0, 0, 0.125f, 0, 0, 0, 0.125f, -1.0f, 0.0f, 2.5f};

  NebWriter w;
  w.setGridSize(n, n, n);
  w.setTransform(transform);
  w.setFrameNumber(7);
  bool ok = w.addChannel(2, smoke.data()) && w.addChannel(1, temperature.data()) && w.addChannel(10, fuel.data()) &&
            w.addChannel(4, vx.data()) && w.addChannel(5, vy.data()) && w.addChannel(6, vz.data()) &&
            w.addPackedColour(colour.data());
  const int group = w.addGroup("Sparks", count);
  ok = ok && w.setGroupChannel(group, 0, positions.data()) && w.setGroupChannel(group, 1, velocities.data()) &&
       w.setGroupChannel(group, 10, ids.data());
  if (!ok || !w.write(argv[1])) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
