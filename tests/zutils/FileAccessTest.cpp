#include <gtest/gtest.h>

#include <string>

#include "support/TempDir.h"
#include "support/TestEnvironment.h"
#include "zutils/FileAccess.h"

TEST(OpenFileUtf8, OpensNonAsciiAndInvalidUtf8Names) {
  TempDir dir;
  for (const char* name : {"caf\xC3\xA9_0001.neb", "raw\xE9\xFF.neb"}) {
    const std::string path = dir / name;
    FILE* f = ZUtils::openFileUtf8(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fputs("data", f);
    std::fclose(f);
    f = ZUtils::openFileUtf8(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, 4, f), 4u);
    EXPECT_STREQ(buf, "data");
    std::fclose(f);
  }
}

TEST(OpenFileUtf8, FailuresAreNull) {
  TempDir dir;
  EXPECT_EQ(ZUtils::openFileUtf8((dir / "missing.neb").c_str(), "rb"), nullptr);
  EXPECT_EQ(ZUtils::openFileUtf8(nullptr, "rb"), nullptr);
  EXPECT_EQ(ZUtils::openFileUtf8((dir / "x").c_str(), nullptr), nullptr);
  EXPECT_EQ(ZUtils::openFileUtf8("", "rb"), nullptr);
}

TEST(FileModificationTime, ReadsMtimeOrZero) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("f.neb"));
  const std::string path = dir / "f.neb";
  ASSERT_TRUE(testsupport::setModificationTime(path, 1425909907));
  EXPECT_EQ(ZUtils::fileModificationTime(path.c_str()), 1425909907);
  EXPECT_EQ(ZUtils::fileModificationTime((dir / "missing").c_str()), 0);
  EXPECT_EQ(ZUtils::fileModificationTime(nullptr), 0);
}
