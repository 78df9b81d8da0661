// Velocity of particles that carry none: groups of type 0x30000 sample the owner frame's
// grid velocity (channels 4, 5, 6) at the particle position.
#include <cstdint>

#include "particles/PGroup.h"

namespace {

struct AxisSample {
  int64_t lo, hi;
  float frac;
};

// The position is taken as cell coordinates, clamped to [0, n - 1]; the upper cell equals
// the lower one at the last cell. NaN clamps to 0.
AxisSample sampleAxis(float x, int n) {
  const float top = static_cast<float>(n - 1);
  if (!(x > 0.0f)) x = 0.0f;
  if (x > top) x = top;
  int64_t lo = static_cast<int64_t>(x);
  if (lo > n - 1) lo = n - 1;  // n - 1 above 2^24 is not exact in single precision
  AxisSample s;
  s.lo = lo;
  s.hi = lo + 1 < n ? lo + 1 : lo;
  s.frac = x - static_cast<float>(lo);
  return s;
}

float trilinear(const float* g, int64_t nx, int64_t ny, const AxisSample& x, const AxisSample& y,
                const AxisSample& z) {
  auto at = [&](int64_t i, int64_t j, int64_t k) { return g[i + nx * (j + ny * k)]; };
  const float gx = 1.0f - x.frac, gy = 1.0f - y.frac, gz = 1.0f - z.frac;
  const float c00 = at(x.lo, y.lo, z.lo) * gx + at(x.hi, y.lo, z.lo) * x.frac;
  const float c10 = at(x.lo, y.hi, z.lo) * gx + at(x.hi, y.hi, z.lo) * x.frac;
  const float c01 = at(x.lo, y.lo, z.hi) * gx + at(x.hi, y.lo, z.hi) * x.frac;
  const float c11 = at(x.lo, y.hi, z.hi) * gx + at(x.hi, y.hi, z.hi) * x.frac;
  const float c0 = c00 * gy + c10 * y.frac;
  const float c1 = c01 * gy + c11 * y.frac;
  return c0 * gz + c1 * z.frac;
}

}  // namespace

bool PGroup::gridVelocity(int particle, float out[3]) {
  if (!owner || !hasChannel(ParticleSlotLayout::kVelocitySlot)) return false;
  const float* v[3] = {owner->getChannel(4), owner->getChannel(5), owner->getChannel(6)};
  if (!v[0] || !v[1] || !v[2]) return false;
  int size[3] = {0, 0, 0};
  owner->getGridSize(size);
  if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0) return false;
  float position[3];
  if (!getParticleValue(particle, ParticleSlotLayout::kPositionSlot, position)) return false;
  const AxisSample sx = sampleAxis(position[0], size[0]);
  const AxisSample sy = sampleAxis(position[1], size[1]);
  const AxisSample sz = sampleAxis(position[2], size[2]);
  for (int c = 0; c < 3; ++c) out[c] = trilinear(v[c], size[0], size[1], sx, sy, sz);
  return true;
}
