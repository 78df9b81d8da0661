// Locking of cache files while they are read: files held exclusively elsewhere, the
// open-file set keyed by the caller's path buffer, and release on every exit.
#include <gtest/gtest.h>

#include "NebTestFiles.h"
#include "cache/CacheFileLock.h"
#include "zutils/platform/FileLock.h"

namespace {

class CacheFileLockTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheFileRetry(3, 1); }
  void TearDown() override { SetCacheFileRetry(30, 200); }
};

TEST_F(CacheFileLockTest, ExclusivelyHeldFileFailsWithBadPathAndRecovers) {
  TempNebFile file;
  NebWriter w;
  ASSERT_TRUE(w.write(file.path()));
  FILE* holder = std::fopen(file.path(), "r+b");
  ASSERT_NE(nullptr, holder);
  ASSERT_TRUE(ZUtils::platform::lockFileNoWait(holder, true));
  OstraneFrameData frame;
  EXPECT_EQ(3, frame.ImportNeb(file.path(), true, false));
  std::fclose(holder);
  // The key of the failed attempt was removed: the same buffer loads now.
  EXPECT_EQ(0, frame.ImportNeb(file.path(), true, false));
}

TEST_F(CacheFileLockTest, SharedLocksCoexistAndReleaseUnlocks) {
  TempNebFile file;
  NebWriter w;
  ASSERT_TRUE(w.write(file.path()));
  FILE* reader = std::fopen(file.path(), "rb");
  ASSERT_NE(nullptr, reader);
  ASSERT_TRUE(ZUtils::platform::lockFileNoWait(reader, false));
  OstraneFrameData frame;
  EXPECT_EQ(0, frame.ImportNeb(file.path(), true, false));
  std::fclose(reader);
  // After the load nothing holds the file: an exclusive lock is free.
  FILE* writer = std::fopen(file.path(), "r+b");
  ASSERT_NE(nullptr, writer);
  EXPECT_TRUE(ZUtils::platform::lockFileNoWait(writer, true));
  std::fclose(writer);
}

TEST_F(CacheFileLockTest, BusyPathKeyTimesOutOtherBuffersPass) {
  TempNebFile file;
  NebWriter w;
  ASSERT_TRUE(w.write(file.path()));
  std::string own = file.path();
  FILE* f = std::fopen(own.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  ASSERT_TRUE(LockCacheFile(nullptr, f, own.c_str(), false));
  OstraneFrameData frame;
  EXPECT_EQ(3, frame.ImportNeb(own.c_str(), true, false));  // same buffer: key busy
  EXPECT_EQ(0, frame.ImportNeb(file.path(), true, false));  // equal text, other buffer
  EXPECT_TRUE(ReleaseCacheFile(nullptr, f, own.c_str()));
  EXPECT_EQ(0, frame.ImportNeb(own.c_str(), true, false));
}

TEST_F(CacheFileLockTest, FailedLoadsReleaseTheFile) {
  TempNebFile file;
  NebWriter w;
  std::vector<char> bytes = writerBytes(w);
  bytes.resize(bytes.size() - 3);
  ASSERT_TRUE(file.writeBytes(bytes));
  OstraneFrameData frame;
  EXPECT_EQ(12, frame.ImportNeb(file.path(), true, false));
  bytes = writerBytes(w);
  bytes[0] = 'Z';
  ASSERT_TRUE(file.writeBytes(bytes));
  EXPECT_EQ(4, frame.ImportNeb(file.path(), true, false));
  FILE* writer = std::fopen(file.path(), "r+b");
  ASSERT_NE(nullptr, writer);
  EXPECT_TRUE(ZUtils::platform::lockFileNoWait(writer, true));
  std::fclose(writer);
  // And the key: the same buffer loads again at once.
  ASSERT_TRUE(w.write(file.path()));
  EXPECT_EQ(0, frame.ImportNeb(file.path(), true, false));
}

}  // namespace
