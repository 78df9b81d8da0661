#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "ostutils/Allocation.h"
#include "ostutils/LargeBlockCache.h"
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

// One budget for every allocation path: each counts exactly the bytes it holds (an array
// its capacity), a request past what is left fails like an exhausted heap with one report
// naming the request, the total held and the budget, and freeing gives the bytes back.
TEST(Allocation, MemoryBudgetCountsWhatEveryPathHolds) {
  LimitReset reset;
  const uint64_t cacheLimit = OSTUtils::largeBlockCacheLimit();
  OSTUtils::setLargeBlockCacheLimit(0);  // freed large blocks go back at once here
  struct Path {
    const char* name;
    uint64_t bytes;
    std::function<bool(uint64_t, std::shared_ptr<void>&)> take;
  };
  auto heap = [](bool zeroed) {
    return [zeroed](uint64_t bytes, std::shared_ptr<void>& hold) {
      char* p = nullptr;
      if (!(zeroed ? OSTUtils::newZeroedArray(p, bytes) : OSTUtils::newArray(p, bytes))) return false;
      hold = std::shared_ptr<void>(p, [](void* q) {
        char* c = static_cast<char*>(q);
        OSTUtils::releaseArray(c);
      });
      return true;
    };
  };
  auto array = [](uint64_t bytes, std::shared_ptr<void>& hold) {
    auto a = std::make_shared<OSTUtils::OstArray<int, int64_t>>();
    if (!a->SetSize(static_cast<int64_t>(bytes / 4), nullptr, true)) return false;
    hold = a;
    return true;
  };
  auto reservation = [](uint64_t bytes, std::shared_ptr<void>& hold) {
    auto r = std::make_shared<OSTUtils::MemoryReservation>();
    if (!r->reserve(bytes)) return false;
    hold = r;
    return true;
  };
  const Path paths[] = {{"newArray", 1 << 20, heap(false)},
                        {"newZeroedArray", 1 << 20, heap(true)},
                        {"OstArray", 1 << 20, array},
                        {"OstArray large block", 6 << 20, array},
                        {"MemoryReservation", 1 << 20, reservation}};
  for (const Path& path : paths) {
    const uint64_t before = OSTUtils::memoryHeldBytes();
    const uint64_t budget = before + path.bytes * 3 / 2;
    OSTUtils::setMemoryLimitBytes(budget);
    std::shared_ptr<void> first, second;
    ASSERT_TRUE(path.take(path.bytes, first)) << path.name;
    EXPECT_EQ(before + path.bytes, OSTUtils::memoryHeldBytes()) << path.name;
    {
      ReportCapture capture;
      EXPECT_FALSE(path.take(path.bytes, second)) << path.name;
      EXPECT_TRUE(capture.hasBudgetRefusal(path.bytes, budget)) << path.name << capture.text();
    }
    EXPECT_EQ(before + path.bytes, OSTUtils::memoryHeldBytes()) << path.name;
    first.reset();
    EXPECT_EQ(before, OSTUtils::memoryHeldBytes()) << path.name;
    ASSERT_TRUE(path.take(path.bytes, second)) << path.name;
    second.reset();
    EXPECT_EQ(before, OSTUtils::memoryHeldBytes()) << path.name;
  }
  // Growth with headroom counts the capacity, old and new storage while both are held.
  const uint64_t before = OSTUtils::memoryHeldBytes();
  OSTUtils::setMemoryLimitBytes(0);
  {
    OSTUtils::OstArray<double, int> grown;
    for (int i = 0; i < 5000; ++i) {
      ASSERT_TRUE(grown.Append(i));
      ASSERT_EQ(before + static_cast<uint64_t>(grown.capacity) * sizeof(double), OSTUtils::memoryHeldBytes());
    }
  }
  EXPECT_EQ(before, OSTUtils::memoryHeldBytes());
  OSTUtils::setLargeBlockCacheLimit(cacheLimit);
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
