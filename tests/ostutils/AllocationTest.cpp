#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ostutils/Allocation.h"
#include "ostutils/MemoryLimit.h"
#include "ostutils/OstArray.h"
#include "zutils/platform/Memory.h"
#include "support/ReportCapture.h"
#include "support/TestEnvironment.h"

namespace {

void* failingCalloc(size_t, size_t) {
  errno = ENOMEM;
  return nullptr;
}

struct LimitReset {
  ~LimitReset() {
    testsupport::unsetEnv("NEB_MEMORY_LIMIT_MB");
    OSTUtils::setMemoryLimitBytes(0);
  }
};

struct HookReset {
  ~HookReset() { OSTUtils::resetHeapHooks(); }
};

}  // namespace

TEST(Allocation, NewArrayOverflowFailsSilently) {
  ReportCapture capture;
  uint64_t* p = reinterpret_cast<uint64_t*>(1);
  EXPECT_FALSE(OSTUtils::newArray(p, UINT64_MAX / 4));
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(capture.text(), "");
}

TEST(Allocation, NewZeroedArrayZeroes) {
  int* p = nullptr;
  ASSERT_TRUE(OSTUtils::newZeroedArray(p, 1000));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
  OSTUtils::releaseArray(p);
  EXPECT_EQ(p, nullptr);
}

TEST(Allocation, NewZeroedArrayRetriesThroughNewArray) {
  ReportCapture capture;
  HookReset reset;
  OSTUtils::heapHooks().allocateZeroed = &failingCalloc;
  int* p = nullptr;
  ASSERT_TRUE(OSTUtils::newZeroedArray(p, 3000000));
  for (int i = 0; i < 3000000; i += 4099) ASSERT_EQ(p[i], 0);
  OSTUtils::releaseArray(p);  // the same release suits the fallback path
  EXPECT_EQ(capture.text(),
            "[ERROR] newZeroedArray failed to allocate ENOMEM 3000000\n"
            "Retry newZeroedArray with newArray and memset\n"
            "Retry newZeroedArray with newArray and memset result = 1\n");
}

TEST(Allocation, CountsInMessagesAreSinglePrecision) {
  ReportCapture capture;
  HookReset reset;
  OSTUtils::heapHooks().allocateZeroed = &failingCalloc;
  OSTUtils::heapHooks().allocate = [](size_t) -> void* { return nullptr; };
  char* p = nullptr;
  EXPECT_FALSE(OSTUtils::newZeroedArray(p, 123456789));
  // 123456789 is not representable as a float: it prints as 123456792.
  EXPECT_EQ(capture.text(),
            "[ERROR] newZeroedArray failed to allocate ENOMEM 123456792\n"
            "Retry newZeroedArray with newArray and memset\n"
            "Retry newZeroedArray with newArray and memset result = 0\n");
}

TEST(Allocation, NewObject) {
  std::string* s = nullptr;
  ASSERT_TRUE(OSTUtils::newObject(s));
  EXPECT_TRUE(s->empty());
  OSTUtils::releaseObject(s);
  EXPECT_EQ(s, nullptr);
}

// One limit for every allocation path: over it each fails like an exhausted heap, with one
// report naming the request and the limit; at the limit each succeeds.
TEST(Allocation, MemoryLimitRefusesLargerRequestsOnEveryPath) {
  LimitReset reset;
  OSTUtils::setMemoryLimitBytes(1 << 20);
  const std::string refusal = "[ERROR] allocation of 1048580 bytes exceeds the memory limit of 1048576 bytes\n";
  {
    ReportCapture capture;
    char* p = reinterpret_cast<char*>(1);
    EXPECT_FALSE(OSTUtils::newArray(p, (1 << 20) + 4));
    EXPECT_EQ(p, nullptr);
    EXPECT_FALSE(OSTUtils::newZeroedArray(p, (1 << 20) + 4));
    EXPECT_EQ(p, nullptr);
    OSTUtils::OstArray<char, long long> a;
    ASSERT_TRUE(a.SetSize(16));
    EXPECT_FALSE(a.SetSize((1 << 20) + 4, nullptr, true));
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0);
    EXPECT_EQ(capture.text(), refusal + refusal + refusal);
  }
  int* q = nullptr;
  ASSERT_TRUE(OSTUtils::newZeroedArray(q, (1 << 20) / 4));
  OSTUtils::releaseArray(q);
}

TEST(Allocation, MemoryLimitDefaultsToPhysicalMemoryAndFollowsTheEnvironment) {
  LimitReset reset;
  testsupport::unsetEnv("NEB_MEMORY_LIMIT_MB");
  OSTUtils::setMemoryLimitBytes(0);
  EXPECT_EQ(OSTUtils::memoryLimitBytes(), ZUtils::platform::physicalMemoryBytes());
  EXPECT_GT(OSTUtils::memoryLimitBytes(), uint64_t(64) << 20);
  testsupport::setEnv("NEB_MEMORY_LIMIT_MB", "3");
  OSTUtils::setMemoryLimitBytes(0);
  EXPECT_EQ(OSTUtils::memoryLimitBytes(), uint64_t(3) << 20);
  // Raising above physical memory is allowed (hosts with swap or overcommit).
  testsupport::setEnv("NEB_MEMORY_LIMIT_MB", "1000000000");
  OSTUtils::setMemoryLimitBytes(0);
  EXPECT_EQ(OSTUtils::memoryLimitBytes(), uint64_t(1000000000) << 20);
  ReportCapture capture;
  testsupport::setEnv("NEB_MEMORY_LIMIT_MB", "lots");
  OSTUtils::setMemoryLimitBytes(0);
  EXPECT_EQ(OSTUtils::memoryLimitBytes(), ZUtils::platform::physicalMemoryBytes());
  EXPECT_EQ(capture.text(), "[WARNING] NEB_MEMORY_LIMIT_MB=\"lots\" is not a positive number of MiB; ignored\n");
}
