// Child program of the round-trip test: writes one nebu2 frame with every channel that
// volconvert exports, under a rotated, scaled and moved transform, through the project's
// writer. Usage: MakeRoundTripFrame <path>. Kept out of the test program so that the test
// links the shared library alone, as a host does.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "cache/NebWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int nx = 13, ny = 7, nz = 5;
  const size_t n = static_cast<size_t>(nx) * ny * nz;
  const float a = 0.6f, b = 0.8f;
  // World -> grid v = w * A + o.
  const float transform[12] = {2.0f * a, -2.0f * b, 0.0f,  //
                               2.0f * b, 2.0f * a,  0.0f,  //
                               0.0f,     0.0f,      4.0f,  //
                               -10.0f,   3.25f,     5.0f};
  NebWriter w;
  w.setGridSize(nx, ny, nz);
  w.setTransform(transform);
  // Values of both signs and zeros, written lossy: the test compares against the decoded
  // nebu2 values, which volconvert copies unchanged.
  std::vector<float> v(n);
  for (int channel : {1, 2, 4, 5, 6, 10}) {
    for (size_t j = 0; j < n; ++j) {
      const float x = static_cast<float>(j % nx), y = static_cast<float>((j / nx) % ny);
      v[j] = (j % 7 == 0) ? 0.0f : std::sin(0.3f * x * channel) * (y - 3.0f) + 0.001f * channel;
    }
    if (!w.addChannel(channel, v.data())) return 1;
  }
  std::vector<uint32_t> rgb(n);
  for (size_t j = 0; j < n; ++j) rgb[j] = static_cast<uint32_t>((j * 2654435761u) & 0xFFFFFFu);
  if (!w.addPackedColour(rgb.data()) || !w.write(argv[1])) return 1;
  return 0;
}
