#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"
#include "zutils/EnumFiles.h"
#include "zutils/FramePattern.h"

using OstraneEnum::EnumFiles;
using ZUtils::kNoFrameNumber;

namespace {

// Records every call, then applies the default choice.
class Recorder : public EnumFiles {
 public:
  void beginEnum(const char* pattern, int mode) override {
    begun.emplace_back(pattern, mode);
  }
  int fileFound(int frame, const char* name) override {
    found.emplace_back(frame, name);
    return EnumFiles::fileFound(frame, name);
  }
  std::vector<std::pair<std::string, int>> begun;
  std::vector<std::pair<int, std::string>> found;
};

}  // namespace

TEST(EnumFilesChoice, StartsEmpty) {
  EnumFiles e;
  EXPECT_EQ(e.chosenName, "");
  EXPECT_EQ(e.chosenFrame, INT_MIN);
  EXPECT_EQ(e.wantedFrame, INT_MIN);
  EXPECT_EQ(e.exactFrameOnly, 1);
}

TEST(EnumFilesChoice, NearestFrameFirstOnTies) {
  EnumFiles e;
  e.exactFrameOnly = 0;
  e.wantedFrame = 10;
  EXPECT_EQ(e.fileFound(7, "f7"), 7);
  e.fileFound(13, "f13");
  EXPECT_EQ(e.chosenName, "f7");  // tie keeps the first
  e.fileFound(11, "f11");
  EXPECT_EQ(e.chosenName, "f11");
  EXPECT_EQ(e.chosenFrame, 11);
  e.fileFound(kNoFrameNumber, "none");
  EXPECT_EQ(e.chosenName, "f11");
}

TEST(EnumFilesChoice, NoOverflowAtTheEndsOfTheRange) {
  EnumFiles e;
  e.exactFrameOnly = 0;
  e.wantedFrame = INT_MIN;
  e.fileFound(2147483646, "far");
  e.fileFound(-2147483647, "near");
  EXPECT_EQ(e.chosenName, "near");
}

TEST(EnumFilesChoice, ExactFrameOnly) {
  EnumFiles e;
  e.wantedFrame = 10;
  e.fileFound(9, "f9");
  EXPECT_EQ(e.chosenName, "");
  e.fileFound(10, "a10");
  e.fileFound(10, "b10");  // same frame again: the first stays
  EXPECT_EQ(e.chosenName, "a10");
  EXPECT_EQ(e.chosenFrame, 10);
}

TEST(EnumFilesDisk, PaddedPatternAcceptsOnlyMatchingWidth) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("s_0007.neb"));
  ASSERT_TRUE(dir.touch("s_7.neb"));
  ASSERT_TRUE(dir.touch("s_0008.neb"));
  ASSERT_TRUE(dir.touch("s_00009.neb"));
  Recorder r;
  r.wantedFrame = 8;
  const std::string pattern = dir / "s_####.neb";
  ASSERT_TRUE(r.enumerate(pattern.c_str(), -1));
  ASSERT_EQ(r.begun.size(), 1u);
  EXPECT_EQ(r.begun[0].first, pattern);
  EXPECT_EQ(r.begun[0].second, -1);
  std::vector<std::pair<int, std::string>> expected = {{7, dir / "s_0007.neb"}, {8, dir / "s_0008.neb"}};
  EXPECT_EQ(r.found, expected);
  EXPECT_EQ(r.chosenName, dir / "s_0008.neb");
  EXPECT_EQ(r.chosenFrame, 8);
}

TEST(EnumFilesDisk, NearestFrameOnDisk) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("s.0007.neb"));
  ASSERT_TRUE(dir.touch("s.0013.neb"));
  EnumFiles e;
  e.exactFrameOnly = 0;
  e.wantedFrame = 10;
  ASSERT_TRUE(e.enumerate((dir / "s.####.neb").c_str(), -1));
  EXPECT_EQ(e.chosenName, dir / "s.0007.neb");
}

TEST(EnumFilesDisk, SingleFileIsReportedWithTheWantedFrame) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("only_0003.vdb"));
  Recorder r;
  r.wantedFrame = 50;
  ASSERT_TRUE(r.enumerate((dir / "only_####.vdb").c_str(), -1));
  ASSERT_EQ(r.found.size(), 1u);
  EXPECT_EQ(r.found[0].first, 50);
  EXPECT_EQ(r.chosenName, dir / "only_0003.vdb");
}

TEST(EnumFilesDisk, NebFallsBackToUnpaddedNumbers) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("c_5.neb"));
  ASSERT_TRUE(dir.touch("c_12.neb"));
  Recorder r;
  r.wantedFrame = 12;
  ASSERT_TRUE(r.enumerate((dir / "c_####.neb").c_str(), -1));
  EXPECT_EQ(r.chosenName, dir / "c_12.neb");
  EXPECT_EQ(r.found.size(), 2u);  // both reported in the second pass only

  // The same files with another extension get no second pass.
  TempDir other;
  ASSERT_TRUE(other.touch("c_5.f3d"));
  ASSERT_TRUE(other.touch("c_12.f3d"));
  EnumFiles e;
  e.wantedFrame = 12;
  EXPECT_TRUE(e.enumerate((other / "c_####.f3d").c_str(), -1));
  EXPECT_EQ(e.chosenName, "");
}

TEST(EnumFilesDisk, DirectoryWithHashIsLiteral) {
  TempDir dir;
  ASSERT_TRUE(testsupport::makeDirectory(dir / "sim#1"));
  ASSERT_TRUE(dir.touch("sim#1/smoke_0005.neb"));
  ASSERT_TRUE(dir.touch("sim#1/smoke_0006.neb"));
  EnumFiles e;
  e.wantedFrame = 5;
  ASSERT_TRUE(e.enumerate((dir / "sim#1/smoke_####.neb").c_str(), -1));
  EXPECT_EQ(e.chosenName, dir / "sim#1/smoke_0005.neb");
}

TEST(EnumFilesDisk, PatternWithoutToken) {
  TempDir dir;
  ASSERT_TRUE(dir.touch("plain.vdb"));
  Recorder r;
  r.chosenName = "stale";
  const std::string existing = dir / "plain.vdb";
  ASSERT_TRUE(r.enumerate(existing.c_str(), -1));
  EXPECT_EQ(r.chosenName, existing);
  ASSERT_EQ(r.found.size(), 1u);
  EXPECT_EQ(r.found[0].first, kNoFrameNumber);

  r.chosenName = "stale";
  EXPECT_FALSE(r.enumerate((dir / "missing.vdb").c_str(), -1));
  EXPECT_EQ(r.chosenName, "");
}

TEST(EnumFilesDisk, NothingOnDisk) {
  TempDir dir;
  EnumFiles e;
  e.chosenName = "stale";
  EXPECT_FALSE(e.enumerate((dir / "s_####.neb").c_str(), -1));
  EXPECT_EQ(e.chosenName, "");
  EXPECT_FALSE(e.enumerate(nullptr, -1));
  EXPECT_FALSE(e.enumerate((dir / "nodir/s_####.neb").c_str(), -1));
}
