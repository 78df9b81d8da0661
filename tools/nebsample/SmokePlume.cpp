#include "tools/nebsample/SmokePlume.h"

#include <algorithm>
#include <cmath>

namespace NebSample {

namespace {

const int kSparks = 256;

// Below this smoke value a cell is left empty: a real cache is mostly zeros.
const float kEmpty = 0.01f;
// A cell whose squared distance from the column's centre, in radii, exceeds this is empty
// whatever its other factors: smoke = exp(-r2) * rise * wisps with rise <= 1 and
// wisps <= 1 (0.75 + 0.25 * sin rounds to at most 1.0f), and exp(-4.7) ~ 0.0091 < kEmpty.
// Rounding is monotonic, so the product of rounded factors stays below the threshold too,
// and skipping such cells before the exp and sin gives the same zeros as computing them.
const float kFarRadius2 = 4.7f;

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

// The plume front rises from the floor to the top of the box over the sequence.
float plumeFront(int frame, int frameCount) {
  const float progress = frameCount > 1 ? float(frame) / float(frameCount - 1) : 1.0f;
  return 0.3f + 1.6f * progress;
}

// Everything a non-empty cell holds.
struct PlumeCell {
  float smoke, temperature, fuel, velocityX, velocityY, velocityZ;
  uint32_t colour;
};

// Calls visit(j, cell) for every non-empty cell j (x fastest), in index order. Inlined into
// each caller, so a caller that keeps one field does not pay for the arithmetic of others.
template <typename Visit>
void forEachPlumeCell(int frame, int frameCount, int n, Visit&& visit) {
  const float front = plumeFront(frame, frameCount);
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
      if (rise <= 0.0f) continue;  // above the front: smoke is exactly 0
      for (int x = 0; x < n; ++x) {
        const float wx = (float(x) + 0.5f) * cellSize - 1.0f;
        const float dx = wx - cx, dz = wz - cz;
        const float r2 = (dx * dx + dz * dz) / (radius * radius);
        if (r2 > kFarRadius2) continue;
        const float core = std::exp(-r2);
        const float wisps = 0.75f + 0.25f * std::sin(9.0f * wx + 7.0f * wy - 5.0f * wz + 2.0f * time);
        const float smoke = core * rise * wisps;
        if (smoke < kEmpty) continue;
        PlumeCell c;
        c.smoke = smoke;
        c.temperature = smoke * std::max(0.0f, 1.5f - wy) * 2.0f;
        c.fuel = wy < 0.25f ? core * (0.25f - wy) * 4.0f : 0.0f;
        // Rising, with a rotation around the column.
        c.velocityX = -1.5f * dz * core;
        c.velocityY = (1.0f + 0.5f * core) * rise;
        c.velocityZ = 1.5f * dx * core;
        const float heat = std::min(1.0f, c.temperature);
        c.colour = packColour(0.35f + 0.65f * heat, 0.35f + 0.3f * heat, 0.35f - 0.25f * heat);
        visit((size_t(z) * n + y) * n + x, c);
      }
    }
  }
}

}  // namespace

void plumeTransform(int resolution, float transform[12]) {
  // World [-1,1] x [0,2] x [-1,1] onto cells [0,n): v = w * (n/2) + (n/2, 0, n/2).
  const float s = 0.5f * float(resolution);
  const float t[12] = {s, 0, 0, 0, s, 0, 0, 0, s, s, 0, s};
  std::copy(t, t + 12, transform);
}

void makePlumeFrame(int frame, int frameCount, int resolution, PlumeFrame& out) {
  const int n = resolution;
  out.size[0] = out.size[1] = out.size[2] = n;
  plumeTransform(n, out.transform);
  const size_t cells = size_t(n) * n * n;
  for (std::vector<float>* v : {&out.smoke, &out.temperature, &out.fuel, &out.velocityX, &out.velocityY, &out.velocityZ})
    v->assign(cells, 0.0f);
  out.colour.assign(cells, 0u);
  forEachPlumeCell(frame, frameCount, n, [&out](size_t j, const PlumeCell& c) {
    out.smoke[j] = c.smoke;
    out.temperature[j] = c.temperature;
    out.fuel[j] = c.fuel;
    out.velocityX[j] = c.velocityX;
    out.velocityY[j] = c.velocityY;
    out.velocityZ[j] = c.velocityZ;
    out.colour[j] = c.colour;
  });
  makePlumeSparks(frame, frameCount, out.sparks);
}

void makePlumeField(int frame, int frameCount, int resolution, PlumeField field, std::vector<float>& out) {
  const int n = resolution;
  out.assign(size_t(n) * n * n, 0.0f);
  float* v = out.data();
  // One loop per field, so that each keeps only its own arithmetic.
  switch (field) {
    case PlumeField::Smoke:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.smoke; });
      break;
    case PlumeField::Temperature:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.temperature; });
      break;
    case PlumeField::Fuel:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.fuel; });
      break;
    case PlumeField::VelocityX:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.velocityX; });
      break;
    case PlumeField::VelocityY:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.velocityY; });
      break;
    case PlumeField::VelocityZ:
      forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.velocityZ; });
      break;
  }
}

void makePlumeColour(int frame, int frameCount, int resolution, std::vector<uint32_t>& out) {
  const int n = resolution;
  out.assign(size_t(n) * n * n, 0u);
  uint32_t* v = out.data();
  forEachPlumeCell(frame, frameCount, n, [v](size_t j, const PlumeCell& c) { v[j] = c.colour; });
}

void makePlumeSparks(int frame, int frameCount, PlumeSparks& out) {
  const float front = plumeFront(frame, frameCount);
  out.positions.resize(kSparks * 3);
  out.velocities.resize(kSparks * 3);
  out.ids.resize(kSparks);
  for (int i = 0; i < kSparks; ++i) {
    const uint32_t h = hash32(uint32_t(i) * 2654435761u);
    // Each spark rises at its own speed from its own start angle, wrapping at the top.
    const float speed = 0.4f + 0.6f * unit(hash32(h + 1));
    const float height = std::fmod(0.05f + speed * (0.1f * float(frame) + unit(hash32(h + 2))), front);
    const float angle = 6.2831853f * unit(h) + 1.5f * height;
    const float spread = 0.05f + 0.2f * height * unit(hash32(h + 3));
    out.positions[i * 3 + 0] = spread * std::cos(angle);
    out.positions[i * 3 + 1] = height;
    out.positions[i * 3 + 2] = spread * std::sin(angle);
    out.velocities[i * 3 + 0] = -spread * std::sin(angle);
    out.velocities[i * 3 + 1] = speed;
    out.velocities[i * 3 + 2] = spread * std::cos(angle);
    out.ids[i] = 1000 + i;
  }
}

}  // namespace NebSample
