#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "compress/GridBlockWriter.h"
#include "compress/SGCompressor.h"
#include "support/ReportCapture.h"

namespace {

using namespace OSTUtils;
typedef std::vector<unsigned char> Bytes;

Bytes toBytes(const OstArray<char, int64_t>& a) {
  return Bytes(reinterpret_cast<unsigned char*>(a.data), reinterpret_cast<unsigned char*>(a.data) + a.size);
}
uint16_t magicOf(const Bytes& b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

std::vector<float> smoothGrid(int nx, int ny, int nz) {
  std::vector<float> v(static_cast<size_t>(nx) * ny * nz);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const float dx = x - nx * 0.5f, dy = y - ny * 0.4f, dz = z - nz * 0.5f;
        const float d = std::sqrt(dx * dx + dy * dy + dz * dz) / (0.4f * nx);
        v[x + static_cast<size_t>(nx) * (y + static_cast<size_t>(ny) * z)] = d < 1.0f ? (1.0f - d) * (1.0f - d) : 0.0f;
      }
  return v;
}

TEST(GridBlockWriter, LosslessBlocksKeepEveryBit) {
  std::mt19937 rng(1);
  std::vector<float> v(5000);
  for (float& f : v) {
    uint32_t u = static_cast<uint32_t>(rng());
    std::memcpy(&f, &u, 4);  // NaNs, infinities, denormals, signed zeros included
  }
  GridBlockOptions opt = defaultGridBlockOptions();
  opt.lossless = true;
  for (int64_t zone : {int64_t(1), int64_t(7), int64_t(1000), int64_t(5000), int64_t(100000)}) {
    opt.zoneLength = zone;
    OstArray<char, int64_t> out;
    ASSERT_TRUE(WriteGridBlock1D(v.data(), 5000, opt, out));
    const Bytes b = toBytes(out);
    EXPECT_EQ(magicOf(b), zone >= 5000 ? 0xFC01 : 0xFC02);
    std::vector<float> back(5000, 0.0f);
    SGCompressor<1> c;
    ASSERT_TRUE(c.DecompressBlock(b.data(), static_cast<int64_t>(b.size()), back.data(), 5000));
    EXPECT_EQ(std::memcmp(back.data(), v.data(), v.size() * 4), 0) << zone;
  }
}

// Expected value of one quantized zone, from the compressing rules.
void expectQuantized(const float* v, const float* got, int64_t n, int bits, const char* what) {
  float lo = v[0], hi = v[0];
  for (int64_t i = 0; i < n; ++i) {
    lo = std::min(lo, v[i]);
    hi = std::max(hi, v[i]);
  }
  if (std::fabs(lo - hi) < 1e-20f) {
    for (int64_t i = 0; i < n; ++i) ASSERT_EQ(got[i], lo) << what << " " << i;
    return;
  }
  const float scale = std::ldexp(1.0f, bits) / (hi - lo);
  const float r = 1.0f / scale;
  for (int64_t i = 0; i < n; ++i) {
    const float e = static_cast<float>(static_cast<int>(std::roundf((v[i] - lo) * scale))) * r + lo;
    ASSERT_EQ(got[i], e) << what << " " << i;
  }
}

TEST(GridBlockWriter, LossyOneDimensionalBlocksDecodeZoneByZone) {
  const std::vector<float> grid = smoothGrid(40, 30, 20);
  const int64_t n = static_cast<int64_t>(grid.size());
  for (int64_t zone : {int64_t(100), int64_t(4096), int64_t(65536)}) {
    for (int bits : {8, 16}) {
      for (int passes : {0, 1, 2}) {
        GridBlockOptions opt = defaultGridBlockOptions();
        opt.zoneLength = zone;
        opt.precisionBits = bits;
        opt.diffPasses = passes;
        OstArray<char, int64_t> out;
        ASSERT_TRUE(WriteGridBlock1D(grid.data(), n, opt, out));
        std::vector<float> back(grid.size(), -1.0f);
        SGCompressor<1> c;
        ASSERT_TRUE(c.DecompressBlock(out.data, out.size, back.data(), n));
        for (int64_t z0 = 0; z0 < n; z0 += zone) {
          const int64_t len = std::min(zone, n - z0);
          expectQuantized(grid.data() + z0, back.data() + z0, len, bits, "1D");
        }
      }
    }
  }
}

TEST(GridBlockWriter, ThreeDimensionalBlocksDecodeToTheGridsOwnLayout) {
  for (int slices : {0, 1, 3, 20, 50}) {
    const int nx = 33, ny = 17, nz = 20;
    const std::vector<float> grid = smoothGrid(nx, ny, nz);
    GridBlockOptions opt = defaultGridBlockOptions();
    opt.zoneSlices = slices;
    opt.zoneLength = 2000;
    opt.diffPasses = 2;
    OstArray<char, int64_t> out;
    ASSERT_TRUE(WriteGridBlock3D(grid.data(), nx, ny, nz, opt, out));
    std::vector<float> back(grid.size(), -1.0f);
    SGCompressor<3> c;
    ASSERT_TRUE(c.DecompressBlock(out.data, out.size, back.data(), static_cast<int64_t>(back.size())));
    const int perZone = slices > 0 ? slices : (2000 + nx * ny - 1) / (nx * ny);
    for (int z0 = 0; z0 < nz; z0 += perZone) {
      const int64_t first = static_cast<int64_t>(z0) * nx * ny;
      const int64_t len = static_cast<int64_t>(std::min(perZone, nz - z0)) * nx * ny;
      expectQuantized(grid.data() + first, back.data() + first, len, opt.precisionBits, "3D");
    }
    // Quantization error stays within one step of the zone's range.
    for (size_t i = 0; i < grid.size(); ++i) ASSERT_NEAR(back[i], grid[i], 1.0f / 65536.0f * 2.0f);
  }
}

TEST(GridBlockWriter, EmptyArraysAndInvalidOptions) {
  ReportCapture capture;
  OstArray<char, int64_t> out;
  GridBlockOptions opt = defaultGridBlockOptions();
  ASSERT_TRUE(WriteGridBlock1D(nullptr, 0, opt, out));
  EXPECT_EQ(toBytes(out), (Bytes{0x02, 0xFC, 0x00, 0x00}));
  ASSERT_TRUE(WriteGridBlock3D(nullptr, 0, 5, 5, opt, out));
  EXPECT_EQ(out.size, 8);
  const float v[4] = {1, 2, 3, 4};
  opt.diffPasses = 300;
  EXPECT_FALSE(WriteGridBlock1D(v, 4, opt, out));
  opt = defaultGridBlockOptions();
  opt.zoneLength = 0;
  EXPECT_FALSE(WriteGridBlock1D(v, 4, opt, out));
  opt = defaultGridBlockOptions();
  EXPECT_FALSE(WriteGridBlock3D(v, -1, 2, 2, opt, out));
  EXPECT_EQ(out.size, 8);  // nothing appended by the failures
  // Blocks are appended after what the array holds.
  ASSERT_TRUE(WriteGridBlock1D(v, 4, opt, out));
  std::vector<float> back(4);
  SGCompressor<1> c;
  ASSERT_TRUE(c.DecompressBlock(out.data + 8, out.size - 8, back.data(), 4));
  expectQuantized(v, back.data(), 4, opt.precisionBits, "appended");
}

TEST(GridBlockWriter, ManySmallZonesAreCappedAtTheTableLimit) {
  std::vector<float> v(70000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 100);
  GridBlockOptions opt = defaultGridBlockOptions();
  opt.zoneLength = 1;
  OstArray<char, int64_t> out;
  ASSERT_TRUE(WriteGridBlock1D(v.data(), 70000, opt, out));
  const Bytes b = toBytes(out);
  EXPECT_EQ(b[2] | (b[3] << 8), 35000);  // two values per zone
  std::vector<float> back(v.size());
  SGCompressor<1> c;
  ASSERT_TRUE(c.DecompressBlock(b.data(), static_cast<int64_t>(b.size()), back.data(), 70000));
  EXPECT_EQ(back, v);  // two distinct values per zone, 16 bits: exact
}

// Damaged blocks: every truncation and random byte flips of small blocks of both kinds.
// Decoding must never crash or read outside the block (the sanitizer build checks), and a
// failure must leave values outside any successfully decoded zone as they were.
template <int D>
void fuzzBlock(const Bytes& block, int64_t outCount, std::mt19937& rng) {
  SGCompressor<D> c;
  for (size_t cut = 0; cut <= block.size(); ++cut) {
    Bytes part(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut));
    std::vector<float> out(static_cast<size_t>(outCount) + 8, -7.0f);
    const bool ok = c.DecompressBlock(part.data(), static_cast<int64_t>(part.size()), out.data(), outCount);
    for (size_t i = static_cast<size_t>(outCount); i < out.size(); ++i) ASSERT_EQ(out[i], -7.0f);
    if (!ok) {
      for (int64_t i = 0; i < outCount; ++i) ASSERT_EQ(out[i], -7.0f) << "cut " << cut;
    }
  }
  for (int trial = 0; trial < 1500; ++trial) {
    Bytes damaged = block;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<unsigned char>(1 + rng() % 255);
    std::vector<float> out(static_cast<size_t>(outCount) + 8, -7.0f);
    c.DecompressBlock(damaged.data(), static_cast<int64_t>(damaged.size()), out.data(), outCount);
    for (size_t i = static_cast<size_t>(outCount); i < out.size(); ++i) ASSERT_EQ(out[i], -7.0f);
  }
}

TEST(GridBlockWriter, DamagedBlocksNeverCrashOrWriteOutsideTheirZones) {
  ReportCapture capture;
  std::mt19937 rng(21);
  const std::vector<float> grid = smoothGrid(12, 10, 6);
  const int64_t n = static_cast<int64_t>(grid.size());
  for (int64_t zone : {int64_t(100), int64_t(100000)}) {
    GridBlockOptions opt = defaultGridBlockOptions();
    opt.zoneLength = zone;
    opt.precisionBits = 10;
    OstArray<char, int64_t> out;
    ASSERT_TRUE(WriteGridBlock1D(grid.data(), n, opt, out));
    fuzzBlock<1>(toBytes(out), n, rng);
    OstArray<char, int64_t> out3;
    opt.zoneSlices = zone == 100 ? 2 : 0;
    ASSERT_TRUE(WriteGridBlock3D(grid.data(), 12, 10, 6, opt, out3));
    fuzzBlock<3>(toBytes(out3), n, rng);
  }
}

}  // namespace
