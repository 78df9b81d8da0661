#include "tools/nebsample/SmokePlume.h"

#include <algorithm>
#include <cmath>

namespace NebSample {

namespace {

const int kSparks = 256;

// Integer hash: deterministic "noise" without any random generator state.
uint32_t hash32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

float unit(uint32_t h) { return float(h >> 8) * (1.0f / 16777216.0f); }

uint32_t packColour(float r, float g, float b) {
  auto byte = [](float v) { return uint32_t(std::min(255.0f, std::max(0.0f, v * 255.0f + 0.5f))); };
  return (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

}  // namespace

void makePlumeFrame(int frame, int frameCount, int resolution, PlumeFrame& out) {
  const int n = resolution;
  out.size[0] = out.size[1] = out.size[2] = n;
  // World [-1,1] x [0,2] x [-1,1] onto cells [0,n): v = w * (n/2) + (n/2, 0, n/2).
  const float s = 0.5f * float(n);
  const float t[12] = {s, 0, 0, 0, s, 0, 0, 0, s, s, 0, s};
  std::copy(t, t + 12, out.transform);

  const size_t cells = size_t(n) * n * n;
  for (std::vector<float>* v : {&out.smoke, &out.temperature, &out.fuel, &out.velocityX, &out.velocityY, &out.velocityZ})
    v->assign(cells, 0.0f);
  out.colour.assign(cells, 0u);

  // The plume front rises from the floor to the top of the box over the sequence.
  const float progress = frameCount > 1 ? float(frame) / float(frameCount - 1) : 1.0f;
  const float front = 0.3f + 1.6f * progress;
  const float time = 0.15f * float(frame);
  const float cellSize = 2.0f / float(n);

  for (int z = 0; z < n; ++z) {
    const float wz = (float(z) + 0.5f) * cellSize - 1.0f;
    for (int y = 0; y < n; ++y) {
      const float wy = (float(y) + 0.5f) * cellSize;
      // Swirl: the column's centre wanders with height and time.
      const float cx = 0.15f * std::sin(2.5f * wy - time);
      const float cz = 0.15f * std::cos(2.0f * wy - 0.7f * time);
      const float radius = 0.12f + 0.25f * wy;
      const float rise = std::max(0.0f, std::min(1.0f, (front - wy) * 4.0f));
      for (int x = 0; x < n; ++x) {
        const float wx = (float(x) + 0.5f) * cellSize - 1.0f;
        const size_t j = (size_t(z) * n + y) * n + x;
        const float dx = wx - cx, dz = wz - cz;
        const float r2 = (dx * dx + dz * dz) / (radius * radius);
        const float core = std::exp(-r2);
        const float wisps = 0.75f + 0.25f * std::sin(9.0f * wx + 7.0f * wy - 5.0f * wz + 2.0f * time);
        const float smoke = core * rise * wisps;
        // Below a threshold the cell is empty: a real cache is mostly zeros.
        if (smoke < 0.01f) continue;
        out.smoke[j] = smoke;
        out.temperature[j] = smoke * std::max(0.0f, 1.5f - wy) * 2.0f;
        out.fuel[j] = wy < 0.25f ? core * (0.25f - wy) * 4.0f : 0.0f;
        // Rising, with a rotation around the column.
        out.velocityX[j] = -1.5f * dz * core;
        out.velocityY[j] = (1.0f + 0.5f * core) * rise;
        out.velocityZ[j] = 1.5f * dx * core;
        const float heat = std::min(1.0f, out.temperature[j]);
        out.colour[j] = packColour(0.35f + 0.65f * heat, 0.35f + 0.3f * heat, 0.35f - 0.25f * heat);
      }
    }
  }

  out.sparkPositions.resize(kSparks * 3);
  out.sparkVelocities.resize(kSparks * 3);
  out.sparkIds.resize(kSparks);
  for (int i = 0; i < kSparks; ++i) {
    const uint32_t h = hash32(uint32_t(i) * 2654435761u);
    // Each spark rises at its own speed from its own start angle, wrapping at the top.
    const float speed = 0.4f + 0.6f * unit(hash32(h + 1));
    const float height = std::fmod(0.05f + speed * (0.1f * float(frame) + unit(hash32(h + 2))), front);
    const float angle = 6.2831853f * unit(h) + 1.5f * height;
    const float spread = 0.05f + 0.2f * height * unit(hash32(h + 3));
    out.sparkPositions[i * 3 + 0] = spread * std::cos(angle);
    out.sparkPositions[i * 3 + 1] = height;
    out.sparkPositions[i * 3 + 2] = spread * std::sin(angle);
    out.sparkVelocities[i * 3 + 0] = -spread * std::sin(angle);
    out.sparkVelocities[i * 3 + 1] = speed;
    out.sparkVelocities[i * 3 + 2] = spread * std::cos(angle);
    out.sparkIds[i] = 1000 + i;
  }
}

}  // namespace NebSample
