// Frame lists of the command-line tools ("--frames 1-240x10", "3,7,12-14").
#include <gtest/gtest.h>

#include <climits>
#include <string>
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
