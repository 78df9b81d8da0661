#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ostutils/LargeBlockCache.h"
#include "ostutils/OstArray.h"
#include "support/ReportCapture.h"

using OSTUtils::OstArray;
using OSTUtils::largeBlockCacheBytes;
using OSTUtils::largeBlockCacheLimit;
using OSTUtils::setLargeBlockCacheLimit;

namespace {

// A class element that counts constructions and destructions and owns heap memory, so
// leaks and double destruction show under the sanitizers.
struct Tracked {
  static int live;
  int* payload;
  Tracked() : payload(new int(7)) { ++live; }
  Tracked(const Tracked& o) : payload(new int(*o.payload)) { ++live; }
  Tracked& operator=(const Tracked& o) {
    *payload = *o.payload;
    return *this;
  }
  ~Tracked() {
    delete payload;
    --live;
  }
};
int Tracked::live = 0;

}  // namespace

OST_BITWISE_RELOCATABLE(Tracked);

TEST(OstArray, GrowthHeadroomAndExact) {
  OstArray<int, int> a;
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.growDivisor, 4);
  ASSERT_TRUE(a.SetSize(10));
  EXPECT_EQ(a.capacity, 18);
  ASSERT_TRUE(a.SetSize(100));
  EXPECT_EQ(a.capacity, 125);
  OstArray<int, long long> b;
  ASSERT_TRUE(b.SetSize(100, nullptr, true));
  EXPECT_EQ(b.capacity, 100);
  EXPECT_EQ(b.reserved(), 0);
}

TEST(OstArray, ShrinkKeepsStorageAndFillOnlyTouchesNewElements) {
  OstArray<int, int> a;
  int one = 1, two = 2;
  ASSERT_TRUE(a.SetSize(4, &one));
  int* storage = a.data;
  ASSERT_TRUE(a.SetSize(0));
  EXPECT_EQ(a.data, storage);
  EXPECT_EQ(a.capacity, 12);
  ASSERT_TRUE(a.SetSize(2, &one));
  ASSERT_TRUE(a.SetSize(30, &two));  // reallocates
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[1], 1);
  for (int i = 2; i < 30; ++i) EXPECT_EQ(a[i], 2);
  // fill pointing into the array itself survives the move of the storage
  ASSERT_TRUE(a.SetSize(200, &a.data[0]));
  EXPECT_EQ(a[199], 1);
}

TEST(OstArray, NegativeSizeIsReportedAndLeavesArrayUnchanged) {
  ReportCapture capture;
  OstArray<float, int> a;
  ASSERT_TRUE(a.SetSize(3));
  EXPECT_FALSE(a.SetSize(-1));
  EXPECT_EQ(a.size, 3);
  EXPECT_NE(capture.text().find("[ERROR] OstArray SetSize() with a negative newsz!\n"), std::string::npos);
}

TEST(OstArray, FailedGrowthLeavesEmptyArray) {
  OstArray<char, long long> a;
  ASSERT_TRUE(a.SetSize(16));
  EXPECT_FALSE(a.SetSize(0x7fffffffffffff00LL, nullptr, true));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0);
  EXPECT_EQ(a.capacity, 0);
}

TEST(OstArray, ClassElementsAreConstructedAndDestroyedInPlace) {
  Tracked::live = 0;
  {
    OstArray<Tracked, int> a;
    ASSERT_TRUE(a.SetSize(5));
    EXPECT_EQ(Tracked::live, 5);
    *a[4].payload = 42;
    ASSERT_TRUE(a.SetSize(50));  // relocation keeps the payload pointers
    EXPECT_EQ(*a[4].payload, 42);
    EXPECT_EQ(Tracked::live, 50);
    ASSERT_TRUE(a.SetSize(2));
    EXPECT_EQ(Tracked::live, 2);
    OstArray<Tracked, int> copy(a);
    EXPECT_EQ(copy.capacity, 2);
    EXPECT_EQ(Tracked::live, 4);
    a.RemoveAt(0);
    EXPECT_EQ(a.size, 1);
    EXPECT_EQ(Tracked::live, 3);
  }
  EXPECT_EQ(Tracked::live, 0);
}

TEST(OstArray, NestedArraysAndAppend) {
  OstArray<OstArray<int, int>, int> lists;
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(lists.SetSize(lists.size + 1));
    for (int k = 0; k <= i; ++k) ASSERT_TRUE(lists[i].Append(k));
  }
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(lists[i].size, i + 1);
    EXPECT_EQ(lists[i][i], i);
  }
}

TEST(OstArray, LargeBlocksAreAlignedForLargePagesAndSurviveGrowth) {
  // 8 MiB of floats: past the large-block size, so the storage is aligned for large pages;
  // growing and shrinking across the boundary must free each block the way it was made
  // (the sanitizer build checks the pairing).
  OstArray<float, long long> a;
  ASSERT_TRUE(a.SetSize(1000));
  for (int i = 0; i < 1000; ++i) a[i] = static_cast<float>(i);
  ASSERT_TRUE(a.SetSize(2 << 20, nullptr, true));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a.data) % ZUtils::platform::kLargeBlockAlignment, 0u);
  EXPECT_EQ(a[999], 999.0f);
  a[(2 << 20) - 1] = 5.0f;
  OstArray<float, long long> copy(a);
  EXPECT_EQ(copy[(2 << 20) - 1], 5.0f);
  a.Free();
  EXPECT_EQ(a.data, nullptr);
  ASSERT_TRUE(a.SetSize(10));
}

TEST(OstArray, FreedLargeBlocksAreReusedWithinTheCacheTotal) {
  const uint64_t saved = largeBlockCacheLimit();
  const int64_t n = int64_t(2) << 20;  // 8 MiB of floats
  const uint64_t block = uint64_t(n) * sizeof(float);
  setLargeBlockCacheLimit(block + block / 2);  // room for one block
  void* first;
  {
    OstArray<float, int64_t> a;
    ASSERT_TRUE(a.SetSize(n, nullptr, true));
    first = a.data;
  }
  EXPECT_EQ(largeBlockCacheBytes(), block);
  {
    OstArray<float, int64_t> b, c;
    ASSERT_TRUE(b.SetSize(n, nullptr, true));
    EXPECT_EQ(static_cast<void*>(b.data), first);  // the kept block, not a fresh one
    EXPECT_EQ(largeBlockCacheBytes(), 0u);
    ASSERT_TRUE(c.SetSize(n + 1024, nullptr, true));  // another size: a fresh block
    EXPECT_NE(static_cast<void*>(c.data), first);
  }
  // c, then b, freed against room for one: c is released, b stays.
  EXPECT_EQ(largeBlockCacheBytes(), block);
  setLargeBlockCacheLimit(0);
  EXPECT_EQ(largeBlockCacheBytes(), 0u);
  setLargeBlockCacheLimit(saved);
}
