#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "support/TempDir.h"
#include "support/ReportCapture.h"
#include "support/ThreadInfo.h"
#include "zutils/platform/Misc.h"
#include "zutils/platform/Module.h"

using namespace ZUtils::platform;

TEST(PlatformMisc, SleepAdvancesTheMonotonicClock) {
  const int64_t before = tickCountMs();
  sleepMs(30);
  const int64_t after = tickCountMs();
  EXPECT_GE(after - before, 30);
  sleepMs(0);
  sleepMs(-5);  // no wait, no hang
  EXPECT_GE(tickCountMs(), after);
}

TEST(PlatformMisc, FileExists) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("here"));
  EXPECT_TRUE(fileExists((dir / "here").c_str()));
  EXPECT_TRUE(fileExists(dir.path().c_str()));
  EXPECT_FALSE(fileExists((dir / "gone").c_str()));
  EXPECT_FALSE(fileExists(""));
  EXPECT_FALSE(fileExists(nullptr));
}

TEST(PlatformMisc, ThreadIdsDifferBetweenThreads) {
  const uint64_t mine = currentThreadId();
  uint64_t theirs = mine;
  std::thread([&] { theirs = currentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(currentThreadId(), mine);
}

TEST(PlatformMisc, ThreadNamesAreCutTo15Characters) {
  std::string seen;
  std::thread([&] {
    setCurrentThreadName("ostrane-worker-number-17");
    seen = testsupport::currentThreadName();
  }).join();
  EXPECT_EQ(seen, "ostrane-worker-");
}

TEST(PlatformModule, LoadsFindsAndFrees) {
#if defined(_WIN32)
  EXPECT_STREQ(moduleFileExtension(), ".dll");
  void* m = loadModule("msvcrt.dll");  // the C runtime every Windows has, with its cos
#else
  EXPECT_STREQ(moduleFileExtension(), ".so");
  void* m = loadModule("libm.so.6");
#endif
  ASSERT_NE(m, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(findModuleSymbol(m, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(findModuleSymbol(m, "no_such_symbol_in_libm"), nullptr);
  freeModule(m);
}

TEST(PlatformModule, MissingModuleIsNullAndSilent) {
  ReportCapture capture;
  TempDir dir;
  const std::string ext = moduleFileExtension();
  ASSERT_TRUE(dir.touch("vdbport" + ext, "not a module"));
  EXPECT_EQ(loadModule((dir / ("vdbport" + ext)).c_str()), nullptr);
  EXPECT_EQ(loadModule((dir / ("f3dport" + ext)).c_str()), nullptr);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(loadModule(nullptr), nullptr);
  EXPECT_EQ(findModuleSymbol(nullptr, "x"), nullptr);
  freeModule(nullptr);
}
