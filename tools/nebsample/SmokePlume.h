// A procedural smoke plume: a hot, fuel-fed source at the bottom of the box whose smoke
// rises and swirls as the frames go on. Deterministic: the same frame number and
// resolution always give the same values, bit for bit, whichever of the calls below makes
// them (a field made alone equals the same field of the whole frame).
#pragma once

#include <cstdint>
#include <vector>

namespace NebSample {

struct PlumeSparks {
  // 3 floats of position and velocity per particle, one identifier each.
  std::vector<float> positions, velocities;
  std::vector<int64_t> ids;
};

struct PlumeFrame {
  int size[3] = {0, 0, 0};
  float transform[12] = {};  // world -> grid: v = w*A + o
  // nx*ny*nz floats each, x fastest.
  std::vector<float> smoke, temperature, fuel, velocityX, velocityY, velocityZ;
  std::vector<uint32_t> colour;  // 0x00RRGGBB per cell
  PlumeSparks sparks;
};

// One dense grid field of the plume.
enum class PlumeField { Smoke, Temperature, Fuel, VelocityX, VelocityY, VelocityZ };

// Frame `frame` (0-based position in the sequence of `frameCount`) on a cubic grid of
// `resolution` cells per side. The world box is [-1,1] x [0,2] x [-1,1].
// Every field at once: 7 dense arrays of resolution^3 cells.
void makePlumeFrame(int frame, int frameCount, int resolution, PlumeFrame& out);

// The pieces of the same frame one at a time, so that a writer holds one dense array at a
// time (at 1024^3 each is 4 GiB). Each call walks the whole grid again.
void plumeTransform(int resolution, float transform[12]);
void makePlumeField(int frame, int frameCount, int resolution, PlumeField field, std::vector<float>& out);
void makePlumeColour(int frame, int frameCount, int resolution, std::vector<uint32_t>& out);
void makePlumeSparks(int frame, int frameCount, PlumeSparks& out);

}  // namespace NebSample
