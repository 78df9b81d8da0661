#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zutils/PathList.h"

namespace {

std::vector<std::string> tokens(const char* source) {
  ZUtils::PathTokenizer t;
  std::vector<std::string> out;
  for (const char* p = ZUtils::firstPath(t, source); p; p = ZUtils::nextPath(t)) out.push_back(p);
  // Stays at the end once finished.
  EXPECT_EQ(ZUtils::nextPath(t), nullptr);
  return out;
}

}  // namespace

TEST(PathList, SplitsAndSkipsEmptyPieces) {
  EXPECT_EQ(tokens("a;bb;;ccc;d"), (std::vector<std::string>{"a", "bb", "ccc", "d"}));
  EXPECT_EQ(tokens(";;x;"), (std::vector<std::string>{"x"}));
  EXPECT_EQ(tokens("/plugins/dir one"), (std::vector<std::string>{"/plugins/dir one"}));
  EXPECT_TRUE(tokens("").empty());
  EXPECT_TRUE(tokens(";;;").empty());
  EXPECT_TRUE(tokens(nullptr).empty());
}

TEST(PathList, LongPiecesAreCutTo1023) {
  const std::string lng(3000, 'p');
  EXPECT_EQ(tokens((lng + ";b").c_str()), (std::vector<std::string>{lng.substr(0, 1023), "b"}));
  EXPECT_EQ(tokens(("a;" + lng).c_str()), (std::vector<std::string>{"a", lng.substr(0, 1023)}));
}

TEST(PathList, SourceIsReadUpTo51200Characters) {
  std::string source(51195, ';');
  source += "abcdefghij";  // crosses the limit: only "abcde" is inside
  EXPECT_EQ(tokens(source.c_str()), (std::vector<std::string>{"abcde"}));
}

TEST(PathList, TokenizerCanBeRestarted) {
  ZUtils::PathTokenizer t;
  EXPECT_STREQ(ZUtils::firstPath(t, "x;y"), "x");
  EXPECT_STREQ(ZUtils::firstPath(t, "z"), "z");
  EXPECT_EQ(ZUtils::nextPath(t), nullptr);
}
