#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "compress/BitPlanes.h"
#include "compress/GridBlockWriter.h"
#include "compress/ParticleChannelMethods.h"
#include "compress/SGCompressor.h"
#include "compress/ZipBlock.h"
#include "support/ReportCapture.h"

using namespace OSTUtils;

namespace {

typedef OstArray<char, int64_t> Bytes;

void appendBytes(std::vector<char>& v, const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  v.insert(v.end(), c, c + n);
}

// A single-zone grid block (magic 0xFC01) with one raw zone of the given floats.
std::vector<char> rawZoneBlock(const std::vector<float>& values) {
  std::vector<char> b = {0x01, static_cast<char>(0xFC), 0x00};
  const int32_t n = static_cast<int32_t>(values.size());
  appendBytes(b, &n, 4);
  appendBytes(b, values.data(), values.size() * 4);
  return b;
}

std::vector<char> toVector(const Bytes& a) { return std::vector<char>(a.data, a.data + a.size); }

template <class T>
std::vector<T> channelAs(const Bytes& a) {
  std::vector<T> v(static_cast<size_t>(a.size) / sizeof(T));
  if (!v.empty()) std::memcpy(v.data(), a.data, v.size() * sizeof(T));
  return v;
}

bool expand(int method, const std::vector<char>& stored, int n, int words, Bytes& out, SGCompressor<1>* comp,
            BitPlaneAssembler* assembler = nullptr) {
  return ExpandChannelBytes(method, stored.data(), static_cast<int64_t>(stored.size()), n, words, out, comp,
                            assembler);
}

std::vector<uint32_t> slowlyVaryingIds(int n, int words) {
  std::vector<uint32_t> v(static_cast<size_t>(n) * words);
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < words; ++c) v[static_cast<size_t>(i) * words + c] = 1000000u + 3u * i + c * 77u + (i % 5);
  return v;
}

GridBlockOptions losslessOptions() {
  GridBlockOptions o = defaultGridBlockOptions();
  o.lossless = true;
  o.zoneLength = 7;  // several zones even for small channels
  return o;
}

}  // namespace

TEST(ParticleChannelMethods, RawChannelTakesTheStoredLength) {
  SGCompressor<1> comp;
  const std::vector<char> shortStored = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Bytes out;
  ASSERT_TRUE(out.SetSize(36));  // 3 particles of 3 words, as a caller would size it
  EXPECT_TRUE(expand(kChannelRaw, shortStored, 3, 3, out, &comp));
  EXPECT_EQ(toVector(out), shortStored);

  std::vector<char> longStored(50, 7);
  Bytes out2;
  EXPECT_TRUE(expand(kChannelRaw, longStored, 3, 3, out2, nullptr));
  EXPECT_EQ(toVector(out2), longStored);
}

TEST(ParticleChannelMethods, ZipChannel) {
  const auto ids = slowlyVaryingIds(1000, 2);
  Bytes stored;
  ASSERT_TRUE(EncodeChannelBytes(kChannelZip, ids.data(), 1000, 2, stored));
  Bytes out;
  EXPECT_TRUE(ExpandChannelBytes(kChannelZip, stored.data, stored.size, 1000, 2, out, nullptr));
  EXPECT_EQ(channelAs<uint32_t>(out), ids);

  // A stream longer than the channel fails with the zip message.
  ReportCapture capture;
  Bytes small;
  EXPECT_FALSE(ExpandChannelBytes(kChannelZip, stored.data, stored.size, 999, 2, small, nullptr));
  const std::string text = capture.text();
  EXPECT_TRUE(text == "[ERROR] Decompressing Zip (-5)\n" || text == "[ERROR] Decompressing Zip (0)\n") << text;

  // A stream shorter than the channel succeeds; the rest of the channel reads as zero.
  Bytes longer;
  ASSERT_TRUE(longer.SetSize(1100 * 8));
  std::memset(longer.data, 0x5A, static_cast<size_t>(longer.size));
  EXPECT_TRUE(ExpandChannelBytes(kChannelZip, stored.data, stored.size, 1100, 2, longer, nullptr));
  const auto back = channelAs<uint32_t>(longer);
  EXPECT_TRUE(std::equal(ids.begin(), ids.end(), back.begin()));
  for (size_t i = ids.size(); i < back.size(); ++i) ASSERT_EQ(back[i], 0u);
}

TEST(ParticleChannelMethods, GridBlockChannel) {
  SGCompressor<1> comp;
  // Single-zone constant block: n = 3, v = 2.5.
  const std::vector<char> block = {0x01, static_cast<char>(0xFC), 0x01, 0x03, 0, 0, 0, 0, 0, 0x20, 0x40};
  Bytes out;
  EXPECT_TRUE(expand(kChannelGridBlock, block, 3, 1, out, &comp));
  EXPECT_EQ(channelAs<float>(out), std::vector<float>({2.5f, 2.5f, 2.5f}));

  // The same block for a longer channel: the values it does not cover are zero.
  Bytes out5;
  EXPECT_TRUE(expand(kChannelGridBlock, block, 5, 1, out5, &comp));
  EXPECT_EQ(channelAs<float>(out5), std::vector<float>({2.5f, 2.5f, 2.5f, 0.0f, 0.0f}));

  // Without a decoder, or with a block that is not one, the channel fails.
  Bytes none;
  EXPECT_FALSE(expand(kChannelGridBlock, block, 3, 1, none, nullptr));
  const std::vector<char> junk = {0x12, 0x34, 0x56};
  EXPECT_FALSE(expand(kChannelGridBlock, junk, 3, 1, none, &comp));
}

TEST(ParticleChannelMethods, PlanarBlockIsInterleaved) {
  SGCompressor<1> comp;
  // words = 3, 2 particles: x0 x1 y0 y1 z0 z1 becomes x0 y0 z0 x1 y1 z1.
  const auto block = rawZoneBlock({1.0f, 2.0f, 10.0f, 20.0f, 100.0f, 200.0f});
  Bytes out;
  EXPECT_TRUE(expand(kChannelGridBlockPlanar, block, 2, 3, out, &comp));
  EXPECT_EQ(channelAs<float>(out), std::vector<float>({1.0f, 10.0f, 100.0f, 2.0f, 20.0f, 200.0f}));

  // A block that fails to decode still gives a fully written (zero) channel, and false.
  const std::vector<char> junk = {0x12, 0x34, 0x56};
  Bytes bad;
  ASSERT_TRUE(bad.SetSize(24));
  std::memset(bad.data, 0x7F, 24);
  EXPECT_FALSE(expand(kChannelGridBlockPlanar, junk, 2, 3, bad, &comp));
  EXPECT_EQ(channelAs<float>(bad), std::vector<float>(6, 0.0f));
}

TEST(ParticleChannelMethods, BitPlaneChannel) {
  // 33 particles of one word: s = 2, a plane buffer of 256 bytes.
  std::vector<uint32_t> channel(33);
  for (int i = 0; i < 33; ++i) channel[i] = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
  std::vector<uint32_t> planes(64, 0);
  for (int i = 0; i < 33; ++i)
    for (int b = 0; b < 32; ++b)
      if (channel[i] >> b & 1u) planes[b * 2 + i / 32] |= 1u << (i % 32);
  Bytes stored;
  ASSERT_TRUE(DeflateBlock(planes.data(), 256, stored));
  Bytes out;
  EXPECT_TRUE(ExpandChannelBytes(kChannelZipBitPlanes, stored.data, stored.size, 33, 1, out, nullptr));
  EXPECT_EQ(channelAs<uint32_t>(out), channel);

  // A stream of only the first 16 planes ends normally; the missing high bits read as 0.
  Bytes lowPlanes;
  ASSERT_TRUE(DeflateBlock(planes.data(), 128, lowPlanes));
  ReportCapture capture;
  Bytes partial;
  EXPECT_TRUE(ExpandChannelBytes(kChannelZipBitPlanes, lowPlanes.data, lowPlanes.size, 33, 1, partial, nullptr));
  EXPECT_EQ(capture.text(), "");
  const auto low = channelAs<uint32_t>(partial);
  ASSERT_EQ(low.size(), 33u);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(low[i], channel[i] & 0xFFFFu) << i;
  // Planes for 33 particles do not fit the buffer of 32.
  Bytes tooLong;
  ASSERT_TRUE(DeflateBlock(planes.data(), 256, tooLong));
  EXPECT_FALSE(ExpandChannelBytes(kChannelZipBitPlanes, tooLong.data, tooLong.size, 32, 1, partial, nullptr));
  EXPECT_NE(capture.text().find("[ERROR] Decompressing Zip ("), std::string::npos);
}

TEST(ParticleChannelMethods, BitPlaneChannelUsesTheGivenAssembler) {
  struct Counting : BitPlaneAssembler {
    int calls = 0;
    int64_t n = -1;
    int words = -1;
    void assemble(const uint32_t* planes, int64_t count, int w, uint32_t* target) override {
      ++calls;
      n = count;
      words = w;
      AssembleFromBitPlanes(planes, count, w, 0, count, target);
    }
  } assembler;
  const auto ids = slowlyVaryingIds(70, 3);
  Bytes stored;
  ASSERT_TRUE(EncodeChannelBytes(kChannelZipBitPlanes, ids.data(), 70, 3, stored));
  Bytes out;
  EXPECT_TRUE(ExpandChannelBytes(kChannelZipBitPlanes, stored.data, stored.size, 70, 3, out, nullptr, &assembler));
  EXPECT_EQ(assembler.calls, 1);
  EXPECT_EQ(assembler.n, 70);
  EXPECT_EQ(assembler.words, 3);
  EXPECT_EQ(channelAs<uint32_t>(out), ids);
}

TEST(ParticleChannelMethods, EveryMethodRoundTrips) {
  SGCompressor<1> comp;
  const GridBlockOptions lossless = losslessOptions();
  for (int words : {1, 2, 3}) {
    for (int n : {0, 1, 33, 200}) {
      std::vector<float> values(static_cast<size_t>(n) * words);
      for (size_t i = 0; i < values.size(); ++i) values[i] = 0.25f * static_cast<float>(i % 97) - 3.0f;
      for (int method = 0; method <= 4; ++method) {
        Bytes stored;
        ASSERT_TRUE(EncodeChannelBytes(method, values.data(), n, words, stored, &lossless))
            << "method " << method << " n " << n << " words " << words;
        Bytes out;
        ASSERT_TRUE(ExpandChannelBytes(method, stored.data, stored.size, n, words, out, &comp))
            << "method " << method << " n " << n << " words " << words;
        ASSERT_EQ(out.size, static_cast<int64_t>(values.size()) * 4);
        if (n > 0) {
          EXPECT_EQ(std::memcmp(out.data, values.data(), values.size() * 4), 0) << "method " << method;
        }
      }
    }
  }
}

TEST(ParticleChannelMethods, InvalidInputsFail) {
  SGCompressor<1> comp;
  const std::vector<char> stored = {1, 2, 3, 4};
  Bytes out;
  ASSERT_TRUE(out.SetSize(4));
  std::memcpy(out.data, "keep", 4);
  {
    // Not a method: silent, and the channel buffer is left alone.
    ReportCapture capture;
    EXPECT_FALSE(expand(5, stored, 1, 1, out, &comp));
    EXPECT_FALSE(expand(-1, stored, 1, 1, out, &comp));
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(std::string(out.data, 4), "keep");
  }
  // A negative particle count cannot be sized.
  for (int method = 1; method <= 4; ++method) {
    Bytes neg;
    EXPECT_FALSE(expand(method, stored, -5, 1, neg, &comp)) << method;
  }
  EXPECT_EQ(ParticleChannelLength(-1, 1), -1);
  EXPECT_EQ(ParticleChannelLength(10, 3), 120);
  EXPECT_EQ(ParticleChannelLength(INT64_MAX / 4, 3), -1);
  Bytes enc;
  ReportCapture capture;
  EXPECT_FALSE(EncodeChannelBytes(9, stored.data(), 1, 1, enc));
  EXPECT_FALSE(EncodeChannelBytes(0, stored.data(), -1, 1, enc));
  EXPECT_NE(capture.text().find("[ERROR]"), std::string::npos);
}
