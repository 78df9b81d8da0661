// Frame lists of the command-line tools ("--frames 1-240x10", "3,7,12-14").
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "zutils/FrameList.h"

TEST(FrameList, ParsesRangesStepsAndLists) {
  const struct {
    const char* text;
    std::vector<int> frames;
  } cases[] = {
      {"7", {7}},
      {"1-4", {1, 2, 3, 4}},
      {"1-10x4", {1, 5, 9}},
      {"3,7,12-14", {3, 7, 12, 13, 14}},
      {"-3--1", {-3, -2, -1}},
      {"-1-1", {-1, 0, 1}},
      {"5,5", {5, 5}},
      {"2147483646-2147483647", {2147483646, 2147483647}},
  };
  for (const auto& c : cases) {
    std::vector<int> frames = {99};
    EXPECT_TRUE(ZUtils::parseFrameList(c.text, frames)) << c.text;
    std::vector<int> expected = {99};
    expected.insert(expected.end(), c.frames.begin(), c.frames.end());
    EXPECT_EQ(frames, expected) << c.text;
  }
}

TEST(FrameList, RefusesMalformedListsAndLeavesTheOutputAlone) {
  for (const char* text : {"", "x", "1-", "1-5x0", "1-5x", "5-1", "1,,2", "1,", "1 -5", "2147483648", "1-3y",
                           "0-1000000", "1-2000000000"}) {
    std::vector<int> frames = {99};
    std::string error;
    EXPECT_FALSE(ZUtils::parseFrameList(text, frames, &error)) << text;
    EXPECT_EQ(frames, std::vector<int>{99}) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::vector<int> frames;
  EXPECT_FALSE(ZUtils::parseFrameList(nullptr, frames));
}

TEST(FrameList, KeepsRangesUnexpandedAndSaysWhichItemIsRefused) {
  ZUtils::FrameList list;
  ASSERT_TRUE(list.parse("0-2000000000,-7,10-13x4"));
  ASSERT_EQ(list.count(), 2000000001LL + 1 + 1);
  const std::pair<int64_t, int> at[] = {{0, 0}, {1999999999, 1999999999}, {2000000000, 2000000000},
                                        {2000000001, -7}, {2000000002, 10}};
  for (const auto& a : at) EXPECT_EQ(list.frameAt(a.first), a.second) << a.first;

  const struct {
    const char* text;
    ZUtils::FrameListError::Kind kind;
    const char* item;
  } refused[] = {
      {"1,5-3,9", ZUtils::FrameListError::kBackwards, "5-3"},
      {"2-9x0", ZUtils::FrameListError::kStep, "2-9x0"},
      {"1-5x,2", ZUtils::FrameListError::kSyntax, "1-5x"},
      {"4,1-3y", ZUtils::FrameListError::kSyntax, "1-3y"},
      {"1,,2", ZUtils::FrameListError::kSyntax, ""},
  };
  for (const auto& r : refused) {
    ZUtils::FrameListError error;
    EXPECT_FALSE(list.parse(r.text, &error)) << r.text;
    EXPECT_EQ(error.kind, r.kind) << r.text;
    EXPECT_EQ(error.item, r.item) << r.text;
    EXPECT_FALSE(error.message.empty()) << r.text;
  }
  EXPECT_EQ(list.count(), 2000000003LL);  // a refused list leaves the last one
}
