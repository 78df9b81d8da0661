// A procedural smoke plume: a hot, fuel-fed source at the bottom of the box whose smoke
// rises and swirls as the frames go on. Deterministic: the same frame number and
// resolution always give the same values, bit for bit.
#pragma once

#include <cstdint>
#include <vector>

namespace NebSample {

struct PlumeFrame {
  int size[3] = {0, 0, 0};
  float transform[12] = {};  // world -> grid: v = w*A + o
  // nx*ny*nz floats each, x fastest.
  std::vector<float> smoke, temperature, fuel, velocityX, velocityY, velocityZ;
  std::vector<uint32_t> colour;  // 0x00RRGGBB per cell
  // Sparks: 3 floats of position and velocity per particle, one identifier each.
  std::vector<float> sparkPositions, sparkVelocities;
  std::vector<int64_t> sparkIds;
};

// Frame `frame` (0-based position in the sequence of `frameCount`) on a cubic grid of
// `resolution` cells per side. The world box is [-1,1] x [0,2] x [-1,1].
void makePlumeFrame(int frame, int frameCount, int resolution, PlumeFrame& out);

}  // namespace NebSample
