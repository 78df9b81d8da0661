#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "zutils/FileList.h"

namespace {

std::vector<std::string> items(const ZUtils::FileNameList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.item(i));
  return out;
}

}  // namespace

TEST(ListFiles, MatchesNamePartKeepsPrefixAndSorts) {
  TempDir dir;
  for (const char* n : {"b_0002.neb", "a_0001.neb", "a_0001.vdb", "c.neb.bak", "A.neb"}) ASSERT_TRUE(dir.touch(n));
  ZUtils::FileNameList list;
  ASSERT_TRUE(ZUtils::listFiles((dir / "*.neb").c_str(), list));
  EXPECT_EQ(items(list), (std::vector<std::string>{dir / "A.neb", dir / "a_0001.neb", dir / "b_0002.neb"}));
  EXPECT_EQ(list.position, 0);
  EXPECT_EQ(list.item(-1), nullptr);
  EXPECT_EQ(list.item(3), nullptr);
}

TEST(ListFiles, QuestionMarkAndLiteralBrackets) {
  TempDir dir;
  for (const char* n : {"take[2]_01.neb", "take2_01.neb", "s1.neb", "s22.neb"}) ASSERT_TRUE(dir.touch(n));
  ZUtils::FileNameList list;
  ASSERT_TRUE(ZUtils::listFiles((dir / "take[2]_*.neb").c_str(), list));
  EXPECT_EQ(items(list), (std::vector<std::string>{dir / "take[2]_01.neb"}));
  ASSERT_TRUE(ZUtils::listFiles((dir / "s?.neb").c_str(), list));
  EXPECT_EQ(items(list), (std::vector<std::string>{dir / "s1.neb"}));
}

TEST(ListFiles, SkipsDotAndDotDotNames) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("..hidden"));
  ASSERT_TRUE(dir.touch(".visible"));
  ZUtils::FileNameList list;
  ASSERT_TRUE(ZUtils::listFiles((dir / "*").c_str(), list));
  EXPECT_EQ(items(list), (std::vector<std::string>{dir / ".visible"}));
}

TEST(ListFiles, NoMatchOrUnreadableDirectoryIsFalseAndEmpty) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("x.neb"));
  ZUtils::FileNameList list;
  ASSERT_TRUE(ZUtils::listFiles((dir / "*.neb").c_str(), list));
  EXPECT_FALSE(ZUtils::listFiles((dir / "*.vdb").c_str(), list));
  EXPECT_EQ(list.count(), 0);  // the earlier result is gone
  EXPECT_FALSE(ZUtils::listFiles((dir / "missing/*.neb").c_str(), list));
  EXPECT_FALSE(ZUtils::listFiles((dir.path() + "/").c_str(), list));
  EXPECT_FALSE(ZUtils::listFiles("", list));
  EXPECT_FALSE(ZUtils::listFiles(nullptr, list));
}

TEST(ListFiles, SubdirectoriesAreListedToo) {
  TempDir dir;
  ASSERT_TRUE(testsupport::makeDirectory(dir / "sub.neb"));
  ZUtils::FileNameList list;
  ASSERT_TRUE(ZUtils::listFiles((dir / "*.neb").c_str(), list));
  EXPECT_EQ(items(list), (std::vector<std::string>{dir / "sub.neb"}));
  list.clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.item(0), nullptr);
}
