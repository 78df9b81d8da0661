#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>

#include "support/TempDir.h"
#include "zutils/platform/FileLock.h"

using ZUtils::platform::flushFileToDisk;
using ZUtils::platform::lockFileNoWait;
using ZUtils::platform::unlockFile;

namespace {

struct File {
  explicit File(const std::string& path, const char* mode = "r+b") : f(std::fopen(path.c_str(), mode)) {}
  ~File() {
    if (f) std::fclose(f);
  }
  FILE* f;
};

}  // namespace

TEST(FileLock, SeparateOpensInOneProcessConflictLikeProcesses) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("locked.neb", "payload"));
  const std::string path = dir / "locked.neb";
  File a(path), b(path);
  ASSERT_TRUE(a.f && b.f);

  EXPECT_TRUE(lockFileNoWait(a.f, false));
  EXPECT_TRUE(lockFileNoWait(b.f, false));  // shared + shared
  EXPECT_TRUE(unlockFile(b.f));
  EXPECT_FALSE(lockFileNoWait(b.f, true));  // exclusive vs shared
  EXPECT_TRUE(unlockFile(a.f));
  EXPECT_TRUE(lockFileNoWait(b.f, true));
  EXPECT_FALSE(lockFileNoWait(a.f, false));  // shared vs exclusive
  EXPECT_FALSE(lockFileNoWait(a.f, true));
}

TEST(FileLock, ClosingTheStreamReleasesItsLock) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("f"));
  const std::string path = dir / "f";
  File other(path);
  {
    File holder(path);
    ASSERT_TRUE(lockFileNoWait(holder.f, true));
    EXPECT_FALSE(lockFileNoWait(other.f, false));
  }
  EXPECT_TRUE(lockFileNoWait(other.f, true));
}

// Windows locks belong to the handle just as these do to the open file, which the tests
// above cover; there is no fork() to take one from a second process.
#if !defined(_WIN32)
TEST(FileLock, ConflictsWithAnotherProcess) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("f"));
  const std::string path = dir / "f";
  File mine(path);
  ASSERT_TRUE(lockFileNoWait(mine.f, true));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    const bool got = f && lockFileNoWait(f, false);
    _exit(got ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);  // the child could not take a shared lock
}
#endif

TEST(FileLock, ExclusiveNeedsAWritableStream) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("f"));
  File readOnly(dir / "f", "rb");
  EXPECT_FALSE(lockFileNoWait(readOnly.f, true));
  EXPECT_TRUE(lockFileNoWait(readOnly.f, false));
}

TEST(FileLock, NullStreamsAndFlush) {
  EXPECT_FALSE(lockFileNoWait(nullptr, false));
  EXPECT_FALSE(unlockFile(nullptr));
  EXPECT_FALSE(flushFileToDisk(nullptr));

  TempDir dir;
  const std::string path = dir / "w";
  File w(path, "wb");
  ASSERT_NE(w.f, nullptr);
  std::fputs("written", w.f);
  EXPECT_TRUE(flushFileToDisk(w.f));
  File r(path, "rb");
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, 7, r.f), 7u);  // visible before the writer closes
  EXPECT_STREQ(buf, "written");
}
