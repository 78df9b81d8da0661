#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "compress/InflateStream.h"
#include "compress/ZipBlock.h"
#include "support/ReportCapture.h"

using OSTUtils::DeflateBlock;
using OSTUtils::InflateBlock;
using OSTUtils::OstArray;

namespace {

std::vector<unsigned char> sampleData(size_t n) {
  std::vector<unsigned char> v(n);
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<unsigned char>((i / 7) ^ (x >> 28));
  }
  return v;
}

OstArray<char, int64_t> deflated(const std::vector<unsigned char>& data) {
  OstArray<char, int64_t> out;
  EXPECT_TRUE(DeflateBlock(data.data(), static_cast<int64_t>(data.size()), out));
  return out;
}

}  // namespace

TEST(ZipBlock, RoundTripExactCapacity) {
  const auto data = sampleData(10000);
  const auto z = deflated(data);
  ASSERT_GT(z.size, 2);
  // zlib format: CMF byte 0x78 (deflate, 32K window) and a header divisible by 31.
  EXPECT_EQ(static_cast<unsigned char>(z.data[0]), 0x78);
  EXPECT_EQ(((static_cast<unsigned char>(z.data[0]) << 8) | static_cast<unsigned char>(z.data[1])) % 31, 0);
  std::vector<unsigned char> back(data.size());
  ReportCapture capture;
  EXPECT_TRUE(InflateBlock(z.data, z.size, back.data(), static_cast<int64_t>(back.size())));
  EXPECT_EQ(back, data);
  EXPECT_EQ(capture.text(), "");
}

TEST(ZipBlock, LargerOutputKeepsBytesPastTheStream) {
  const auto data = sampleData(100);
  const auto z = deflated(data);
  std::vector<unsigned char> back(150, 0xAB);
  EXPECT_TRUE(InflateBlock(z.data, z.size, back.data(), static_cast<int64_t>(back.size())));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
  for (size_t i = 100; i < 150; ++i) EXPECT_EQ(back[i], 0xAB);
}

TEST(ZipBlock, FailuresReportTheZlibCode) {
  const auto data = sampleData(5000);
  const auto z = deflated(data);
  std::vector<unsigned char> back(data.size());
  {
    // Output one byte too small: the single inflate call cannot reach the stream end.
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(z.data, z.size, back.data(), static_cast<int64_t>(back.size()) - 1));
    const std::string text = capture.text();
    EXPECT_TRUE(text == "[ERROR] Decompressing Zip (-5)\n" || text == "[ERROR] Decompressing Zip (0)\n") << text;
  }
  {
    // Damaged header check bits.
    OstArray<char, int64_t> bad = z;
    bad.data[1] ^= 0x01;
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(bad.data, bad.size, back.data(), static_cast<int64_t>(back.size())));
    EXPECT_EQ(capture.text(), "[ERROR] Decompressing Zip (-3)\n");
  }
  {
    // Stream cut short: no end reached.
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(z.data, z.size / 2, back.data(), static_cast<int64_t>(back.size())));
    EXPECT_NE(capture.text().find("[ERROR] Decompressing Zip ("), std::string::npos);
  }
  {
    // Garbage that is not a zlib stream at all.
    const char junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(junk, 8, back.data(), 100));
    EXPECT_EQ(capture.text(), "[ERROR] Decompressing Zip (-3)\n");
  }
  {
    // A fixed-code block using length symbol 286, with an Adler-32 that matches what a
    // lenient inflater makes of it (1000 bytes): zlib's "invalid literal/length code".
    const unsigned char lenient[] = {0x78, 0xda, 0x4b, 0x4c, 0x1c, 0x05, 0xa3, 0x60, 0x0c,
                                     0x0c, 0x77, 0x00, 0x00, 0xf9, 0xd8, 0x7a, 0xf8};
    std::vector<unsigned char> room(4096);
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(lenient, sizeof lenient, room.data(), static_cast<int64_t>(room.size())));
    EXPECT_EQ(capture.text(), "[ERROR] Decompressing Zip (-3)\n");
  }
}

TEST(ZipBlock, NegativeLengthsAreRefused) {
  const auto data = sampleData(64);
  const auto z = deflated(data);
  std::vector<unsigned char> back(64);
  struct Case {
    int64_t in, out;
  } cases[] = {{-1, 64}, {z.size, -1}};
  for (const Case& c : cases) {
    ReportCapture capture;
    EXPECT_FALSE(InflateBlock(z.data, c.in, back.data(), c.out));
    EXPECT_EQ(capture.text(), "[ERROR] Decompressing Zip (-5)\n");
  }
}

// The packed colour of a grid over 2^29 cells is a block beyond zlib's 32-bit counts.
TEST(ZipBlock, BlocksBeyond2GiBRoundTrip) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "4 GiB of buffers under a sanitizer";
#endif
  const int64_t n = (int64_t(1) << 31) + 4099;
  std::vector<unsigned char> data(static_cast<size_t>(n), 0);
  for (int64_t i = 0; i < n; i += (int64_t(1) << 24) + 7) data[static_cast<size_t>(i)] = static_cast<unsigned char>(i >> 7);
  data[static_cast<size_t>(n - 1)] = 0x5A;
  OstArray<char, int64_t> z;
  ASSERT_TRUE(DeflateBlock(data.data(), n, z, 1));
  std::vector<unsigned char> back(static_cast<size_t>(n), 0xEE);
  EXPECT_TRUE(InflateBlock(z.data, z.size, back.data(), n));
  EXPECT_TRUE(back == data);
  ReportCapture capture;
  EXPECT_FALSE(InflateBlock(z.data, z.size, back.data(), n - 1));
  EXPECT_FALSE(InflateBlock(z.data, z.size / 2, back.data(), n));
  EXPECT_NE(capture.text().find("[ERROR] Decompressing Zip"), std::string::npos);
}

// A single inflate call over the whole buffers stops where the output is full: damage that
// lies beyond that point is not seen, and the call ends with Z_OK. The streamed inflate,
// in any pieces, ends the same way. Level 0 keeps the stream plain: stored blocks of at
// most 65535 bytes, each after a 5-byte header (block type, LEN, NLEN = ~LEN).
TEST(ZipBlock, StreamedInflateEndsAsTheWholeBlockDoes) {
  const auto data = sampleData(70000);
  OstArray<char, int64_t> z;
  ASSERT_TRUE(DeflateBlock(data.data(), static_cast<int64_t>(data.size()), z, 0));
  const int64_t second = 2 + 5 + 65535;  // the second stored block's header
  ASSERT_GT(z.size, second + 5);
  z.data[second + 3] ^= 0x01;  // its NLEN no longer matches LEN
  struct Case {
    int64_t capacity;
    const char* report;
  } cases[] = {{65534, "[ERROR] Decompressing Zip (0)\n"},    // full inside the first block
               {65535, "[ERROR] Decompressing Zip (-3)\n"},   // the damaged header is read before more output
               {70000, "[ERROR] Decompressing Zip (-3)\n"}};
  for (const Case& c : cases) {
    std::vector<unsigned char> back(static_cast<size_t>(c.capacity));
    {
      ReportCapture capture;
      EXPECT_FALSE(InflateBlock(z.data, z.size, back.data(), c.capacity));
      EXPECT_EQ(capture.text(), c.report) << c.capacity;
    }
    for (int64_t piece : {int64_t(1000), c.capacity}) {
      ReportCapture capture;
      OSTUtils::InflateStream stream;
      const unsigned char* in = reinterpret_cast<const unsigned char*>(z.data);
      bool ok = stream.open([in](int64_t offset, int64_t) { return in + offset; }, z.size, c.capacity);
      for (int64_t at = 0; ok && at < c.capacity; at += piece)
        ok = stream.read(back.data() + at, std::min(piece, c.capacity - at));
      EXPECT_FALSE(ok);
      EXPECT_EQ(capture.text(), c.report) << c.capacity << " in pieces of " << piece;
    }
  }
}

TEST(ZipBlock, EmptyStreamEndsInZeroCapacity) {
  OstArray<char, int64_t> z;
  ASSERT_TRUE(DeflateBlock(nullptr, 0, z));
  EXPECT_TRUE(InflateBlock(z.data, z.size, nullptr, 0));
}

TEST(ZipBlock, DeflateAppendsAndRefusesBadLengths) {
  const auto data = sampleData(300);
  OstArray<char, int64_t> out;
  ASSERT_TRUE(out.SetSize(3));
  std::memcpy(out.data, "abc", 3);
  ASSERT_TRUE(DeflateBlock(data.data(), 300, out, 9));
  EXPECT_EQ(std::memcmp(out.data, "abc", 3), 0);
  std::vector<unsigned char> back(300);
  EXPECT_TRUE(InflateBlock(out.data + 3, out.size - 3, back.data(), 300));
  EXPECT_EQ(back, data);

  ReportCapture capture;
  EXPECT_FALSE(DeflateBlock(data.data(), -1, out));
  EXPECT_NE(capture.text().find("[ERROR]"), std::string::npos);
}
