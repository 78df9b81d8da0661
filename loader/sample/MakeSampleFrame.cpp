// Writes the small frame installed with the package for the example host: an 8x6x4 grid
// with temperature and smoke, a scaled and offset transform, and one particle group.
#include <cstdio>
#include <vector>

#include "cache/NebWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.neb>\n", argv[0]);
    return 2;
  }
  const int nx = 8, ny = 6, nz = 4;
  std::vector<float> smoke(nx * ny * nz), temperature(nx * ny * nz);
  for (int z = 0; z < nz; ++z) {
    for (int y = 0; y < ny; ++y) {
      for (int x = 0; x < nx; ++x) {
        const int i = x + nx * (y + ny * z);
        smoke[i] = static_cast<float>(x + y + z) / 16.0f;
        temperature[i] = 300.0f + static_cast<float>(z);
      }
    }
  }
  const float transform[12] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 1.0f, 2.0f, 3.0f};
  const float positions[4 * 3] = {0.5f, 0.5f, 0.5f, 1, 1, 1, 2, 2, 1, 3, 1, 2};

  NebWriter writer;
  writer.setGridSize(nx, ny, nz);
  writer.setTransform(transform);
  writer.setFrameNumber(1);
  int group = writer.addGroup("Sparks", 4);
  bool ok = writer.addChannel(1, temperature.data()) && writer.addChannel(2, smoke.data()) &&
            writer.setGroupChannel(group, 0, positions) && writer.write(argv[1]);
  if (!ok) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
