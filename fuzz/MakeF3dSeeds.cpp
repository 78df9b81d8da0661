// Writes small Ogawa-encoded Field3D files into <dir>/f3dport for what the sample files
// beside the tests do not hold (scripts/fuzz.sh copies those too): frustum mappings of both
// depth distributions, time-sampled matrices, sparse layers with and without stored blocks
// from a negative window minimum, a MAC layer as Field3D's Ogawa writer leaves it, and
// layer names shared by two partitions.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/F3dWriters.h"

namespace {

bool save(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/f3dport";
  mkdir(argv[1], 0755);
  mkdir(dir.c_str(), 0755);
  using f3dtest::OgawaWriter;
  const double S[16] = {0.41421356237309509, 0, 0, 0, 0, 0.41421356237309509, 0, 0,
                        0, 0, -2.25, -0.44999999999999996, 0, 0, 1.75, 0.55000000000000004};
  const int32_t lo[3] = {-3, -2, -1}, hi[3] = {2, 1, 0}, res[3] = {2, 1, 1};
  std::vector<float> block(64);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<float>(i) * 0.5f;
  std::vector<std::string> files;
  for (int z = 0; z < 2; ++z) {
    OgawaWriter w;
    const uint64_t layer = w.denseFloat("density", lo, hi, std::vector<float>(48, 1.5f));
    files.push_back(w.file({w.partition("cam.0", w.frustumMapping(S, z), {layer})}));
  }
  {
    OgawaWriter w;
    std::vector<double> a(16, 0.0), b(16, 0.0);
    for (int d = 0; d < 4; ++d) a[5 * d] = b[5 * d] = 2.0;
    a[15] = b[15] = 1.0;
    b[12] = 3.0;
    const uint64_t sparse = w.sparseFloat("dust", lo, hi, 2, res, {block, {}}, {0.0f, 7.5f});
    const uint64_t none = w.sparseFloat("void", lo, hi, 2, res, {{}, {}}, {1.25f, -3.0f});
    const uint64_t mac = w.macLayer("vel");
    files.push_back(w.file({w.partition("smoke.0", w.matrixMapping({{-1.0f, a}, {1.0f, b}}), {sparse, none, mac})}));
  }
  {
    OgawaWriter w;
    const uint64_t first = w.denseFloat("density", lo, hi, std::vector<float>(48, 1.0f));
    const uint64_t second = w.denseFloat("density", lo, hi, std::vector<float>(48, 2.0f));
    files.push_back(w.file({w.partition("smoke.1", w.matrixMapping({}), {first}),
                            w.partition("smoke.0", w.matrixMapping({}), {second})}));
  }
  for (size_t i = 0; i < files.size(); ++i)
    if (!save(dir + "/written_" + std::to_string(i) + ".f3d", files[i])) return 1;
  return 0;
}
