#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "compress/EntropyCoder.h"
#include "compress/GridBlockHeader.h"
#include "compress/SGCompressor.h"
#include "compress/ZoneTransforms.h"
#include "ostutils/LargeBlockCache.h"
#include "ostutils/MemoryLimit.h"
#include "support/ReportCapture.h"

namespace {

using namespace OSTUtils;
typedef std::vector<unsigned char> Bytes;

void putU16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
void putI32(Bytes& b, int64_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(u >> (8 * i)));
}
void putF32(Bytes& b, float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  putI32(b, u);
}

// A quantized zone stream whose coded sequence holds `coded` (non-negative, folded here).
Bytes quantizedZone(const std::vector<int64_t>& dims, float scale, float offset, int base, int passes,
                    std::vector<int> coded) {
  Bytes b;
  putU16(b, 0xFC01);
  b.push_back(2);
  for (int64_t d : dims) putI32(b, d);
  putF32(b, scale);
  putF32(b, offset);
  putI32(b, base);
  b.push_back(static_cast<unsigned char>(passes));
  const int64_t n = FoldRuns(coded.data(), static_cast<int64_t>(coded.size()), 4);
  EntropyCoder st;
  OstArray<char, int64_t> out;
  Encode(st, coded.data(), n, out);
  b.insert(b.end(), reinterpret_cast<unsigned char*>(out.data), reinterpret_cast<unsigned char*>(out.data) + out.size);
  return b;
}

Bytes constantZone(int n, float v) {
  Bytes b;
  putU16(b, 0xFC01);
  b.push_back(1);
  putI32(b, n);
  putF32(b, v);
  return b;
}

// A zoned block of the given zone streams starting at the given output indexes.
Bytes zonedBlock(const std::vector<Bytes>& zones, const std::vector<int>& valueStarts) {
  Bytes b;
  putU16(b, 0xFC02);
  putU16(b, static_cast<uint32_t>(zones.size()));
  for (int v : valueStarts) putI32(b, v);
  int64_t at = 0;
  for (const Bytes& z : zones) {
    putI32(b, at);
    at += static_cast<int64_t>(z.size());
  }
  for (const Bytes& z : zones) b.insert(b.end(), z.begin(), z.end());
  return b;
}

template <int D>
bool decode(const Bytes& block, std::vector<float>& out) {
  SGCompressor<D> c;
  // Exactly the block's bytes on the heap: reads past them are caught by the sanitizer.
  std::vector<unsigned char> copy(block);
  return c.DecompressBlock(copy.data(), static_cast<int64_t>(copy.size()), out.data(),
                           static_cast<int64_t>(out.size()));
}

const float kSentinel = -123.5f;

TEST(SGCompressorBlock, ElevenByteConstantBlockFillsThreeValues) {
  const Bytes block = {0x01, 0xFC, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x40};
  std::vector<float> out(5, kSentinel);
  EXPECT_TRUE(decode<1>(block, out));
  EXPECT_EQ(out, (std::vector<float>{2.5f, 2.5f, 2.5f, kSentinel, kSentinel}));
  std::vector<float> out3(4, kSentinel);
  EXPECT_TRUE(decode<3>(block, out3));
  EXPECT_EQ(out3[2], 2.5f);
  EXPECT_EQ(out3[3], kSentinel);
}

TEST(SGCompressorBlock, ZoneCountZeroSucceedsWithoutWriting) {
  std::vector<float> out(3, kSentinel);
  EXPECT_TRUE(decode<1>(Bytes{0x02, 0xFC, 0x00, 0x00}, out));
  EXPECT_TRUE(decode<1>(Bytes{0x03, 0xFC, 0x00, 0x00}, out));
  EXPECT_EQ(out, std::vector<float>(3, kSentinel));
}

TEST(SGCompressorBlock, InvalidMagicsAndTablesAreRejectedWhole) {
  ReportCapture capture;
  std::vector<float> out(10, kSentinel);
  const std::vector<float> untouched = out;
  EXPECT_FALSE(decode<1>(Bytes{0x04, 0xFC, 0x00, 0x00}, out));
  EXPECT_FALSE(decode<1>(Bytes{0x02}, out));
  EXPECT_FALSE(decode<1>(Bytes{0x02, 0xFC, 0x01}, out));

  const Bytes a = constantZone(2, 1.0f), b = constantZone(2, 2.0f);
  Bytes good = zonedBlock({a, b}, {0, 5});
  EXPECT_TRUE(decode<1>(good, out));
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[6], 2.0f);
  out = untouched;

  // valueStart equal to outCount.
  EXPECT_FALSE(decode<1>(zonedBlock({a, b}, {0, 10}), out));
  // byteStart equal to the bytes after the table.
  Bytes atEnd = zonedBlock({a, b}, {0, 5});
  atEnd[4 + 8 + 4] = static_cast<unsigned char>(a.size() + b.size());
  EXPECT_FALSE(decode<1>(atEnd, out));
  // Zones out of order in the output, or in the bytes.
  EXPECT_FALSE(decode<1>(zonedBlock({a, b}, {5, 0}), out));
  Bytes swapped = zonedBlock({a, b}, {0, 5});
  swapped[12] = static_cast<unsigned char>(a.size());
  swapped[16] = 0;
  EXPECT_FALSE(decode<1>(swapped, out));
  // A table longer than the block.
  Bytes cut = good;
  cut.resize(4 + 8 * 2 - 1);
  EXPECT_FALSE(decode<1>(cut, out));
  // Negative entries.
  EXPECT_FALSE(decode<1>(zonedBlock({a, b}, {-1, 5}), out));
  EXPECT_EQ(out, untouched);
}

TEST(SGCompressorBlock, ZoneMagicIsSkippedUncheckedAndUnwrittenValuesKeepTheirContents) {
  Bytes a = constantZone(2, 7.0f);
  a[0] = 0x00;
  a[1] = 0x00;
  std::vector<float> out(6, kSentinel);
  EXPECT_TRUE(decode<1>(zonedBlock({a}, {3}), out));
  EXPECT_EQ(out, (std::vector<float>{kSentinel, kSentinel, kSentinel, 7.0f, 7.0f, kSentinel}));
}

TEST(SGCompressorBlock, FailingZoneOfAZonedBlockKeepsItsOutputAndTheBlockSucceeds) {
  ReportCapture capture;
  Bytes bad = constantZone(2, 7.0f);
  bad[2] = 3;  // unknown method
  const Bytes good = constantZone(2, 9.0f);
  std::vector<float> out(4, kSentinel);
  EXPECT_TRUE(decode<1>(zonedBlock({bad, good}, {0, 2}), out));
  EXPECT_EQ(out, (std::vector<float>{kSentinel, kSentinel, 9.0f, 9.0f}));
  // The same failing zone alone is a failing single-zone block.
  EXPECT_FALSE(decode<1>(bad, out));
}

TEST(SGCompressorBlock, ZeroUnwrittenClearsExactlyWhatNoZoneWrote) {
  ReportCapture capture;
  Bytes bad = constantZone(2, 7.0f);
  bad[2] = 3;  // unknown method: the zone fails and writes nothing
  const float S = kSentinel;
  struct Case {
    const char* name;
    Bytes block;
    std::vector<float> expected;
  } cases[] = {
      {"no zones", Bytes{0x02, 0xFC, 0x00, 0x00}, {0, 0, 0, 0, 0, 0}},
      {"gap, then a short last zone", zonedBlock({constantZone(1, 1.0f), constantZone(2, 2.0f)}, {0, 3}),
       {1, 0, 0, 2, 2, 0}},
      {"first zone starts late", zonedBlock({constantZone(2, 5.0f)}, {2}), {0, 0, 5, 5, 0, 0}},
      {"failing zone between good ones",
       zonedBlock({constantZone(2, 1.0f), bad, constantZone(1, 3.0f)}, {0, 2, 5}), {1, 1, 0, 0, 0, 3}},
      {"single zone shorter than the output", constantZone(4, 6.0f), {6, 6, 6, 6, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool zero : {false, true}) {
      std::vector<float> out(6, S);
      SGCompressor<1> codec;
      ASSERT_TRUE(codec.DecompressBlock(c.block.data(), static_cast<int64_t>(c.block.size()), out.data(), 6, zero));
      for (size_t i = 0; i < out.size(); ++i) {
        // Without the flag the unwritten values keep their contents.
        const float want = (c.expected[i] == 0.0f && !zero) ? S : c.expected[i];
        EXPECT_EQ(out[i], want) << "value " << i << (zero ? " zeroed" : " kept");
      }
    }
  }
}

// A failing zone is damage and its block still decodes; a zone whose scratch the memory
// budget refuses is not, and zeros in its place must not pass for the stored values.
TEST(SGCompressorBlock, ZoneWithoutScratchMemoryFailsTheZonedBlockAndTheZoneList) {
  ReportCapture capture;
  const int n = 300000;  // values beyond the scratch a job keeps ready
  const Bytes block = zonedBlock({constantZone(2, 1.0f), quantizedZone({n}, 1.0f, 0.0f, 0, 0, std::vector<int>(n, 3))},
                                 {0, 2});
  std::vector<float> out(n + 2, kSentinel);
  SGCompressor<1> codec(1);
  const uint64_t budget = memoryLimitBytes();
  for (bool refused : {true, false}) {
    SCOPED_TRACE(refused ? "refused" : "granted");
    ASSERT_TRUE(codec.DecompressBlock(constantZone(2, 0.0f).data(), 11, out.data(), 2));  // job scratch in place
    // Above what is in use: the large-block cache would give back what it keeps.
    if (refused) setMemoryLimitBytes(memoryHeldBytes() - largeBlockCacheBytes() + 64 * 1024);
    EXPECT_EQ(codec.DecompressBlock(block.data(), static_cast<int64_t>(block.size()), out.data(), n + 2, true),
              !refused);
    ASSERT_TRUE(codec.zones.SetSize(1));
    SGZone& zone = codec.zones[0];
    zone.source = block.data() + 4 + 2 * 8 + 11;
    zone.byteBudget = static_cast<int64_t>(block.size()) - (4 + 2 * 8 + 11);
    zone.consumed = 2;  // past the zone's magic, as the zone table gives it
    zone.values = out.data() + 2;
    zone.valueCapacity = n;
    EXPECT_EQ(codec.DecompressZones(), !refused);
    EXPECT_EQ(zone.noMemory, refused);
    setMemoryLimitBytes(budget);
    if (!refused) {
      EXPECT_EQ(out[n + 1], 3.0f);
    }
  }
  EXPECT_NE(capture.text().find("Can't allocate 0 MB for decompression"), std::string::npos);
}

// What describes a block without decoding it reads the same headers as the decoder but
// takes the table as it stands: a table the decoder refuses (a zone starting past the
// output) is still described zone by zone, and its extent reaches the furthest zone's end.
TEST(GridBlockHeaders, DescriptionAndExtentTakeTheTableAsItStands) {
  Bytes raw;
  putU16(raw, 0xFC01);
  raw.push_back(0);
  putI32(raw, 2);
  putF32(raw, 1.5f);
  putF32(raw, 2.5f);
  Bytes unknown;
  putU16(unknown, 0xFC01);
  unknown.push_back(7);
  putI32(unknown, 99);
  const Bytes block = zonedBlock({constantZone(3, 1.0f), quantizedZone({4}, 4.0f, 0.0f, 0, 2, {1, 2, 3, 4}), unknown, raw},
                                 {0, 3, 7, 20});
  std::vector<float> out(10);
  ReportCapture capture;
  EXPECT_FALSE(decode<1>(block, out));
  const GridBlockZones z = DescribeGridBlockZones(block.data(), static_cast<int64_t>(block.size()), 1);
  EXPECT_TRUE(z.readable);
  EXPECT_EQ(4, z.zoneCount);
  EXPECT_EQ(1, z.rawZones);
  EXPECT_EQ(1, z.constantZones);
  EXPECT_EQ(1, z.quantizedZones);
  EXPECT_EQ(1, z.otherZones);
  EXPECT_EQ(0.25f, z.finestStep);
  EXPECT_EQ(0.25f, z.coarsestStep);
  EXPECT_EQ(2, z.maxPasses);
  EXPECT_EQ(22, GridBlockExtent(block.data(), static_cast<int64_t>(block.size()), 1));  // raw zone: 20 + 2
  // A table running past the block is no block.
  const int64_t table = 4 + 8 * 4;
  EXPECT_FALSE(DescribeGridBlockZones(block.data(), table - 1, 1).readable);
  EXPECT_EQ(-1, GridBlockExtent(block.data(), table - 1, 1));
}

TEST(SGCompressorZone, RawAndConstantZonesAreBoundedByTheirBudgetAndRoom) {
  ReportCapture capture;
  Bytes raw;
  putU16(raw, 0xFC01);
  raw.push_back(0);
  putI32(raw, 2);
  putF32(raw, 1.5f);
  putF32(raw, -2.0f);
  std::vector<float> out(3, kSentinel);
  EXPECT_TRUE(decode<1>(raw, out));
  EXPECT_EQ(out, (std::vector<float>{1.5f, -2.0f, kSentinel}));
  std::vector<float> small(1, kSentinel);
  EXPECT_FALSE(decode<1>(raw, small));  // n beyond the room
  EXPECT_EQ(small[0], kSentinel);
  Bytes shortRaw(raw.begin(), raw.end() - 1);
  EXPECT_FALSE(decode<1>(shortRaw, out));
  Bytes negative = constantZone(-1, 1.0f);
  EXPECT_FALSE(decode<1>(negative, out));
  Bytes shortConst = constantZone(1, 1.0f);
  shortConst.pop_back();
  EXPECT_FALSE(decode<1>(shortConst, out));
}

TEST(SGCompressorZone, TinyPositiveOffsetDecodesAsZero) {
  std::vector<float> out(3, kSentinel);
  EXPECT_TRUE(decode<1>(quantizedZone({3}, 1.0f, 1e-30f, 0, 0, {0, 1, 2}), out));
  EXPECT_EQ(out, (std::vector<float>{0.0f, 1.0f, 2.0f}));
  // A tiny negative offset is kept.
  EXPECT_TRUE(decode<1>(quantizedZone({3}, 1.0f, -1e-30f, 0, 0, {0, 1, 2}), out));
  EXPECT_EQ(out[0], -1e-30f);
}

TEST(SGCompressorZone, QuantizedZoneLargerThanItsRoomFailsUntouched) {
  ReportCapture capture;
  std::vector<float> out(2, kSentinel);
  EXPECT_FALSE(decode<1>(quantizedZone({3}, 1.0f, 0.0f, 0, 0, {0, 1, 2}), out));
  EXPECT_EQ(out, std::vector<float>(2, kSentinel));
  std::vector<float> out3(5, kSentinel);
  EXPECT_FALSE(decode<3>(quantizedZone({2, 2, 2}, 1.0f, 0.0f, 0, 0, std::vector<int>(8, 1)), out3));
  // Extents whose product overflows 64 bits.
  EXPECT_FALSE(decode<3>(quantizedZone({0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF}, 1.0f, 0.0f, 0, 0, {1}), out3));
  EXPECT_FALSE(decode<3>(quantizedZone({-1, 2, 2}, 1.0f, 0.0f, 0, 0, {1}), out3));
  EXPECT_EQ(out3, std::vector<float>(5, kSentinel));
}

TEST(SGCompressorZone, EmptyQuantizedZoneNeedsZeroPasses) {
  ReportCapture capture;
  std::vector<float> out(2, kSentinel);
  EXPECT_FALSE(decode<1>(quantizedZone({0}, 1.0f, 0.0f, 0, 1, {}), out));
  EXPECT_TRUE(decode<1>(quantizedZone({0}, 1.0f, 0.0f, 0, 0, {}), out));
  EXPECT_FALSE(decode<3>(quantizedZone({4, 0, 1}, 1.0f, 0.0f, 0, 2, {}), out));
  EXPECT_EQ(out, std::vector<float>(2, kSentinel));
}

// A cut in the zone header fails the zone. A cut in the coded sequence does not: the values
// decoded before the stop are kept and the rest of the zone is 0 at the quantized level,
// which with one differencing pass repeats the last decoded value. The compressor is
// reused after an intact decode so that leftovers in its scratch would show.
TEST(SGCompressorZone, CutHeaderFailsAndCutCodedSequenceGoesOnWithZeros) {
  ReportCapture capture;
  std::vector<int> coded(500);
  for (int i = 0; i < 500; ++i) coded[i] = (i * 7919) % 13;
  const Bytes zone = quantizedZone({500}, 1.0f, 0.0f, 0, 1, coded);
  const size_t headerEnd = 2 + 1 + 17;
  std::vector<float> intact(500, kSentinel);
  ASSERT_TRUE(decode<1>(zone, intact));
  SGCompressor<1> reused;
  size_t lastKept = 0;
  for (size_t cut = 0; cut <= zone.size(); ++cut) {
    std::vector<float> o(500, kSentinel);
    Bytes part(zone.begin(), zone.begin() + static_cast<std::ptrdiff_t>(cut));
    std::vector<float> warm(500);
    ASSERT_TRUE(reused.DecompressBlock(zone.data(), static_cast<int64_t>(zone.size()), warm.data(), 500));
    const bool ok = reused.DecompressBlock(part.data(), static_cast<int64_t>(part.size()), o.data(), 500);
    EXPECT_EQ(ok, cut >= headerEnd) << cut;
    if (!ok) {
      EXPECT_EQ(o, std::vector<float>(500, kSentinel)) << cut;
    } else {
      size_t kept = 0;
      while (kept < o.size() && o[kept] == intact[kept]) ++kept;
      for (size_t j = kept; j < o.size(); ++j) ASSERT_EQ(o[j], kept > 0 ? o[kept - 1] : 0.0f) << cut << " " << j;
      EXPECT_GE(kept, lastKept) << cut;
      if (cut + 8 < zone.size()) {
        EXPECT_LT(kept, o.size()) << cut;
      }
      lastKept = kept;
    }
    // The same cut zone inside a zoned block decodes alike, or stays untouched.
    std::vector<float> z(500, kSentinel);
    EXPECT_TRUE(decode<1>(zonedBlock({part.size() >= 2 ? part : Bytes{0, 0}}, {0}), z)) << cut;
    EXPECT_EQ(z, o) << cut;
  }
  EXPECT_EQ(lastKept, 500u);
  EXPECT_NE(capture.text().find("Can't allocate 0 MB for decompression"), std::string::npos);
  EXPECT_NE(capture.text().find("coded sequence of the zone is damaged or cut short"), std::string::npos);
}

// The integration as the format states it: per pass and axis, every line, positions
// p .. extent-1 ascending, q[j] += q[j-1] one stride back.
std::vector<int> referenceIntegrate(std::vector<int> q, int X, int Y, int Z, int passes) {
  const int ext[3] = {X, Y, Z};
  const int stride[3] = {1, X, X * Y};
  for (int p = passes; p >= 1; --p) {
    for (int a = 0; a < 3; ++a) {
      if (ext[a] <= p) continue;
      for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
          for (int x = 0; x < X; ++x) {
            const int c[3] = {x, y, z};
            if (c[a] != 0) continue;  // line start
            const int start = x + X * (y + Y * z);
            for (int j = p; j < ext[a]; ++j) {
              uint32_t& cur = reinterpret_cast<uint32_t&>(q[start + j * stride[a]]);
              cur += static_cast<uint32_t>(q[start + (j - 1) * stride[a]]);
            }
          }
    }
  }
  return q;
}

TEST(SGCompressorZone, ThreeDimensionalIntegrationFollowsTheAxesInOrder) {
  // X = 1, one pass: X untouched, Y and Z integrated.
  std::vector<float> out(6, kSentinel);
  ASSERT_TRUE(decode<3>(quantizedZone({1, 3, 2}, 1.0f, 0.0f, 0, 1, {1, 2, 3, 4, 5, 6}), out));
  // Y: {1,3,6} {4,9,15}; Z: {1,3,6} {5,12,21}.
  EXPECT_EQ(out, (std::vector<float>{1, 3, 6, 5, 12, 21}));

  std::mt19937 rng(3);
  for (int trial = 0; trial < 60; ++trial) {
    const int X = 1 + static_cast<int>(rng() % 6), Y = 1 + static_cast<int>(rng() % 6),
              Z = 1 + static_cast<int>(rng() % 6);
    const int passes = static_cast<int>(rng() % 4);
    const int base = static_cast<int>(rng() % 100) - 50;
    std::vector<int> coded(static_cast<size_t>(X * Y * Z));
    for (int& c : coded) c = static_cast<int>(rng() % 9);
    std::vector<int> q(coded.size());
    for (size_t i = 0; i < q.size(); ++i) q[i] = coded[i] + base;
    const std::vector<int> expect = referenceIntegrate(q, X, Y, Z, passes);
    std::vector<float> o(q.size());
    ASSERT_TRUE(decode<3>(quantizedZone({X, Y, Z}, 4.0f, 0.5f, base, passes, coded), o));
    for (size_t i = 0; i < q.size(); ++i) ASSERT_EQ(o[i], static_cast<float>(expect[i]) * 0.25f + 0.5f);
    // The one-dimensional codec integrates the same data as one line.
    std::vector<float> o1(q.size());
    ASSERT_TRUE(decode<1>(quantizedZone({static_cast<int64_t>(q.size())}, 4.0f, 0.5f, base, passes, coded), o1));
    const std::vector<int> line = referenceIntegrate(q, static_cast<int>(q.size()), 1, 1, passes);
    for (size_t i = 0; i < q.size(); ++i) ASSERT_EQ(o1[i], static_cast<float>(line[i]) * 0.25f + 0.5f);
  }
}

// Expected decoded values of a quantized zone, from the compressing rules.
std::vector<float> quantizeReference(const std::vector<float>& v, int bits) {
  float lo = v[0], hi = v[0];
  for (float x : v) {
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  const float scale = std::ldexp(1.0f, bits) / (hi - lo);
  const float r = 1.0f / scale;
  const float offset = lo > 0.0f && lo < 1e-20f ? 0.0f : lo;
  std::vector<float> out;
  for (float x : v) out.push_back(static_cast<float>(static_cast<int>(std::roundf((x - lo) * scale))) * r + offset);
  return out;
}

template <int D>
Bytes compress(SGCompressor<D>& c, std::vector<float>& v, int bits, int passes, const int* box = nullptr) {
  OstArray<char, int64_t> buf;
  SGZone z;
  z.compressed = &buf;
  z.values = v.data();
  z.valueCount = static_cast<int>(v.size());
  z.precisionBits = bits;
  z.diffPasses = passes;
  if (box) {
    for (int a = 0; a < 3; ++a) z.box[a] = box[a];
  }
  EXPECT_TRUE(c.CompressZone(z));
  return Bytes(reinterpret_cast<unsigned char*>(buf.data), reinterpret_cast<unsigned char*>(buf.data) + buf.size);
}

std::vector<float> testSignal(std::mt19937& rng, size_t n, int kind) {
  std::vector<float> v(n);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (size_t i = 0; i < n; ++i) {
    const float t = static_cast<float>(i);
    switch (kind) {
      case 0: v[i] = std::sin(t * 0.01f) * 3.0f + 1.0f; break;
      case 1: v[i] = noise(rng); break;
      case 2: v[i] = (i / 50) % 2 ? 0.0f : std::exp(-t * 0.001f); break;
      default: v[i] = 1e6f + static_cast<float>(i % 7); break;
    }
  }
  return v;
}

TEST(SGCompressorRoundTrip, OneDimensionalZonesDecodeToTheQuantizedValues) {
  SGCompressor<1> c;
  std::mt19937 rng(11);
  const size_t sizes[] = {2, 3, 17, 1000, 70000};
  for (int kind = 0; kind < 4; ++kind) {
    for (size_t n : sizes) {
      for (int bits : {1, 8, 12, 16, 19}) {
        for (int passes : {0, 1, 2, 3}) {
          std::vector<float> v = testSignal(rng, n, kind);
          const Bytes block = compress(c, v, bits, passes);
          std::vector<float> out(n, kSentinel);
          ASSERT_TRUE(c.DecompressBlock(block.data(), static_cast<int64_t>(block.size()), out.data(),
                                        static_cast<int64_t>(n)));
          ASSERT_EQ(out, quantizeReference(v, bits)) << kind << " " << n << " " << bits << " " << passes;
        }
      }
    }
  }
}

TEST(SGCompressorRoundTrip, ThreeDimensionalZonesDecodeToTheQuantizedValues) {
  SGCompressor<3> c;
  std::mt19937 rng(12);
  for (int trial = 0; trial < 80; ++trial) {
    const int box[3] = {1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 20),
                        1 + static_cast<int>(rng() % 10)};
    const size_t n = static_cast<size_t>(box[0] * box[1] * box[2]);
    std::vector<float> v(n);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (int z = 0; z < box[2]; ++z)
      for (int y = 0; y < box[1]; ++y)
        for (int x = 0; x < box[0]; ++x)
          v[x + box[0] * (y + box[1] * z)] = std::sin(x * 0.3f) * std::cos(y * 0.2f) + z * 0.1f + noise(rng);
    if (n == 1) v[0] = 1.0f;
    const int bits = 4 + static_cast<int>(rng() % 16);
    const int passes = static_cast<int>(rng() % 4);
    const Bytes block = compress(c, v, bits, passes, box);
    std::vector<float> out(n, kSentinel);
    ASSERT_TRUE(c.DecompressBlock(block.data(), static_cast<int64_t>(block.size()), out.data(),
                                  static_cast<int64_t>(n)));
    if (n > 1) {
      ASSERT_EQ(out, quantizeReference(v, bits)) << trial;
    }
  }
}

TEST(SGCompressorCompress, NanFlatAndPreciseZonesTakeTheirShortForms) {
  SGCompressor<1> c;
  std::vector<float> withNan = {1.0f, std::numeric_limits<float>::quiet_NaN(), 3.0f};
  EXPECT_EQ(compress(c, withNan, 8, 1), (Bytes{0x01, 0xFC, 0x01, 0x03, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<float> withInf = {std::numeric_limits<float>::infinity(), 2.0f};
  EXPECT_EQ(compress(c, withInf, 8, 1), (Bytes{0x01, 0xFC, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<float> flat = {4.0f, 4.0f + 1e-21f, 4.0f};
  const Bytes constant = compress(c, flat, 8, 1);
  EXPECT_EQ(constant.size(), 11u);
  EXPECT_EQ(constant[2], 1);
  std::vector<float> precise = {1.0f, 2.0f, -0.0f};
  const Bytes raw = compress(c, precise, 20, 1);
  ASSERT_EQ(raw.size(), 3u + 4u + 12u);
  EXPECT_EQ(raw[2], 0);
  std::vector<float> out(3);
  ASSERT_TRUE(c.DecompressBlock(raw.data(), static_cast<int64_t>(raw.size()), out.data(), 3));
  EXPECT_EQ(std::memcmp(out.data(), precise.data(), 12), 0);
}

TEST(SGCompressorCompress, PresetRangesStepsAndInvalidParameters) {
  ReportCapture capture;
  SGCompressor<1> c;
  std::vector<float> v = {0.0f, 0.25f, 0.5f, 1.0f};
  OstArray<char, int64_t> buf;
  SGZone z;
  z.compressed = &buf;
  z.values = v.data();
  z.valueCount = 4;
  z.precisionBits = 0;  // step mode
  z.quantStep = 0.25f;
  z.diffPasses = 1;
  ASSERT_TRUE(c.CompressZone(z));
  std::vector<float> out(4);
  ASSERT_TRUE(c.DecompressBlock(buf.data, buf.size, out.data(), 4));
  EXPECT_EQ(out, v);

  // A preset range far wider than the values: steps beyond the integer range store raw.
  z.quantStep = 1e-30f;
  ASSERT_TRUE(c.CompressZone(z));
  EXPECT_EQ(buf.data[2], 0);
  ASSERT_TRUE(c.DecompressBlock(buf.data, buf.size, out.data(), 4));
  EXPECT_EQ(out, v);

  z.diffPasses = 256;
  EXPECT_FALSE(c.CompressZone(z));
  SGCompressor<3> c3;
  z.diffPasses = 1;
  z.box[0] = 3, z.box[1] = 1, z.box[2] = 1;  // holds 3, not 4
  EXPECT_FALSE(c3.CompressZone(z));
}

}  // namespace

// The decoder runs the last integration pass together with the dequantization (vectorised
// for lines); on wrapping integers, odd lengths and several passes the floats must equal
// the separate passes bit for bit.
TEST(SGCompressorTransforms, FusedIntegrationAndDequantizationMatchTheSeparatePasses) {
  std::mt19937 rng(99);
  const int shapes[][3] = {{1, 1, 1}, {7, 1, 1}, {33, 1, 1}, {4099, 1, 1}, {5, 3, 4}, {1, 6, 7}, {8, 8, 1}, {3, 1, 9}};
  for (const auto& box : shapes) {
    for (int passes = 0; passes <= 3; ++passes) {
      const int64_t n = static_cast<int64_t>(box[0]) * box[1] * box[2];
      std::vector<int> q(static_cast<size_t>(n));
      for (int& v : q) v = static_cast<int>(rng());  // sums wrap around
      const float scale = 1.0f + static_cast<float>(rng() % 1000) / 7.0f;
      const float offset = -3.25f;
      for (int d = 0; d < 2; ++d) {
        std::vector<int> separate = q, fused = q;
        std::vector<float> expect(static_cast<size_t>(n)), got(static_cast<size_t>(n));
        if (d == 0) {
          IntegrateLine(separate.data(), n, passes);
          IntegrateDequantizeLine(fused.data(), n, passes, scale, offset, got.data());
        } else {
          IntegrateBox(separate.data(), box[0], box[1], box[2], passes);
          IntegrateDequantizeBox(fused.data(), box[0], box[1], box[2], passes, scale, offset, got.data());
        }
        Dequantize(separate.data(), n, scale, offset, expect.data());
        ASSERT_EQ(0, std::memcmp(expect.data(), got.data(), expect.size() * sizeof(float)))
            << "box " << box[0] << "x" << box[1] << "x" << box[2] << " passes " << passes << " dims " << (d ? 3 : 1);
      }
    }
  }
}
