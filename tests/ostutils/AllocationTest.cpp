#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "ostutils/Allocation.h"
#include "support/ReportCapture.h"

namespace {

void* failingCalloc(size_t, size_t) {
  errno = ENOMEM;
  return nullptr;
}

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
