#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "zutils/FramePattern.h"

using ZUtils::expandFramePattern;
using ZUtils::kEmptyFrameNumber;
using ZUtils::kNoFrameNumber;

TEST(FrameTokens, HashRunsAreZeroPaddedMinimumWidths) {
  EXPECT_EQ(expandFramePattern("smoke_####.neb", 7, nullptr), "smoke_0007.neb");
  EXPECT_EQ(expandFramePattern("smoke_##.neb", 123, nullptr), "smoke_123.neb");
  EXPECT_EQ(expandFramePattern("smoke_#.neb", 0, nullptr), "smoke_0.neb");
  EXPECT_EQ(expandFramePattern("##_##", 5, nullptr), "05_05");
  EXPECT_EQ(expandFramePattern("s_####.neb", -5, nullptr), "s_-005.neb");
  EXPECT_EQ(expandFramePattern("s_##############.neb", 5, nullptr), "s_000000000005.neb");  // 14 -> 12
}

TEST(FrameTokens, DirectoryPartIsNeverExpanded) {
  EXPECT_EQ(expandFramePattern("sim#1/smoke_####.neb", 5, nullptr), "sim#1/smoke_0005.neb");
  EXPECT_EQ(expandFramePattern("c:\\a%d\\<frame>\\f#.neb", 5, nullptr), "c:\\a%d\\<frame>\\f5.neb");
  EXPECT_EQ(expandFramePattern("dir#/", 5, nullptr), "dir#/");
}

TEST(FrameTokens, PrintfStyle) {
  EXPECT_EQ(expandFramePattern("f%d.neb", 7, nullptr), "f7.neb");
  EXPECT_EQ(expandFramePattern("f%3d.neb", 7, nullptr), "f  7.neb");
  EXPECT_EQ(expandFramePattern("f%04i.neb", 7, nullptr), "f0007.neb");
  EXPECT_EQ(expandFramePattern("f%04D%I", 42, nullptr), "f004242");
  EXPECT_EQ(expandFramePattern("f%4d", -5, nullptr), "f  -5");
  EXPECT_EQ(expandFramePattern("f%99999999999999999999d", 1, nullptr), "f           1");  // width capped at 12
  EXPECT_EQ(expandFramePattern("f%x%s%5.neb", 7, nullptr), "f%x%s%5.neb");
  EXPECT_EQ(expandFramePattern("f%", 7, nullptr), "f%");
  EXPECT_EQ(expandFramePattern("f%04", 7, nullptr), "f%04");
}

TEST(FrameTokens, DoublePercentIsCopiedAndSkipped) {
  EXPECT_EQ(expandFramePattern("%%d#", 3, nullptr), "%%d3");
  EXPECT_EQ(expandFramePattern("a%%%d", 3, nullptr), "a%%3");
  EXPECT_FALSE(ZUtils::hasFramePattern("%%d"));
}

TEST(FrameTokens, UnsignedConversions) {
  EXPECT_EQ(expandFramePattern("f%u", 7, nullptr), "f7");
  EXPECT_EQ(expandFramePattern("f%05U", 7, nullptr), "f00007");
  EXPECT_EQ(expandFramePattern("f%u", -1, nullptr), "f4294967295");
  EXPECT_EQ(expandFramePattern("f%12u", -2, nullptr), "f  4294967294");
  EXPECT_EQ(expandFramePattern("f%u.neb", INT_MIN, nullptr), "f.neb");
}

TEST(FrameTokens, AngleTokens) {
  EXPECT_EQ(expandFramePattern("f<frame>.neb", 7, nullptr), "f7.neb");
  EXPECT_EQ(expandFramePattern("f<frame04>.neb", 7, nullptr), "f0007.neb");
  EXPECT_EQ(expandFramePattern("f<frame3>.neb", 7, nullptr), "f  7.neb");
  EXPECT_EQ(expandFramePattern("f<frame>.neb", -2, nullptr), "f-2.neb");
  EXPECT_EQ(expandFramePattern("f<fram>.neb", 7, nullptr), "f<fram>.neb");
  EXPECT_EQ(expandFramePattern("f<frame4.neb", 7, nullptr), "f<frame4.neb");
  EXPECT_EQ(expandFramePattern("f<Frame>.neb", 7, nullptr), "f<Frame>.neb");
  EXPECT_EQ(expandFramePattern("f<frame>", 7, nullptr), "f7");
}

TEST(FrameTokens, CharacterAfterAStrayAngleNeverStartsAToken) {
  EXPECT_EQ(expandFramePattern("a<#.neb", 7, nullptr), "a<#.neb");
  EXPECT_EQ(expandFramePattern("a<##.neb", 7, nullptr), "a<#7.neb");
  EXPECT_EQ(expandFramePattern("a<", 7, nullptr), "a<");
  EXPECT_EQ(expandFramePattern("<", 7, nullptr), "<");
  EXPECT_FALSE(ZUtils::hasFramePattern("x<#"));
}

TEST(FrameTokens, SmallestIntMakesEveryTokenVanish) {
  EXPECT_EQ(expandFramePattern("a_####.neb", INT_MIN, nullptr), "a_.neb");
  EXPECT_EQ(expandFramePattern("a_%05d<frame04>%u#.neb", kEmptyFrameNumber, nullptr), "a_.neb");
}

TEST(FrameTokens, NoFrameNumberSubstitutesText) {
  EXPECT_EQ(expandFramePattern("d#/s_####_%03d_<frame>.neb", kNoFrameNumber, "*"), "d#/s_*_*_*.neb");
  EXPECT_EQ(expandFramePattern("s_####.neb", kNoFrameNumber, "#"), "s_#.neb");
  EXPECT_EQ(expandFramePattern("s_#.neb", kNoFrameNumber, "0123456789abcdefghij"), "s_0123456789abcde.neb");
  EXPECT_EQ(expandFramePattern("s_#.neb", kNoFrameNumber, nullptr), "s_.neb");
  EXPECT_EQ(expandFramePattern("s.neb", kNoFrameNumber, "*"), "s.neb");
}

TEST(FrameTokens, LongLiteralTextAndNullPattern) {
  const std::string lead(300, 'n');
  EXPECT_EQ(expandFramePattern((lead + "_####.neb").c_str(), 12, nullptr), lead + "_0012.neb");
  EXPECT_EQ(expandFramePattern("no tokens in this rather long name.neb", 1, nullptr),
            "no tokens in this rather long name.neb");
  EXPECT_EQ(expandFramePattern(nullptr, 1, "*"), "");
}

TEST(FrameTokens, HasFramePatternLooksEverywhere) {
  EXPECT_TRUE(ZUtils::hasFramePattern("a_#.neb"));
  EXPECT_TRUE(ZUtils::hasFramePattern("sim#1/smoke.neb"));  // directory part counts here
  EXPECT_TRUE(ZUtils::hasFramePattern("a%3u"));
  EXPECT_TRUE(ZUtils::hasFramePattern("<frame0>"));
  EXPECT_FALSE(ZUtils::hasFramePattern("a%x<fram>.neb"));
  EXPECT_FALSE(ZUtils::hasFramePattern(""));
  EXPECT_FALSE(ZUtils::hasFramePattern(nullptr));
}

TEST(FormatFrameNumber, PaddingSignsAndLimits) {
  char b[16];
  ZUtils::formatFrameNumber(-5, b, 4, true);
  EXPECT_STREQ(b, "-005");
  ZUtils::formatFrameNumber(-5, b, 4, false);
  EXPECT_STREQ(b, "  -5");
  ZUtils::formatFrameNumber(123, b, 2, true);
  EXPECT_STREQ(b, "123");
  ZUtils::formatFrameNumber(INT_MIN, b, 4, true);
  EXPECT_STREQ(b, "");
  ZUtils::formatFrameNumber(-2147483647, b, 12, true);
  EXPECT_STREQ(b, "-02147483647");
  ZUtils::formatFrameNumber(2147483647, b, 0, false);
  EXPECT_STREQ(b, "2147483647");
  ZUtils::formatFrameNumber(7, b, -3, true);
  EXPECT_STREQ(b, "7");
}

TEST(FormatFrameNumber, OversizedWidthStaysInsideSixteenBytes) {
  char b[20];
  std::memset(b, '@', sizeof b);
  ZUtils::formatFrameNumber(-1, b, 1000, true);
  EXPECT_STREQ(b, "-00000000001");
  for (size_t i = 13; i < sizeof b; ++i) EXPECT_EQ(b[i], '@');
}

TEST(FrameFromName, DigitsNearestBeforeTheLastDot) {
  EXPECT_EQ(ZUtils::frameNumberFromFileName("smoke_0042.neb"), 42);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("smoke_0042_v2.neb"), 2);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("shot_-12.neb"), -12);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("/a/b3/c7.tar.gz"), 7);  // other characters, dots too, are skipped
  EXPECT_EQ(ZUtils::frameNumberFromFileName("/a/b3/c.tar.gz"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("/a/b3/c7.1.gz"), 1);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("c:\\x9\\name.neb"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("dir.v2/file"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("noext"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("5.neb"), 5);
  EXPECT_EQ(ZUtils::frameNumberFromFileName(".neb"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName(nullptr), kNoFrameNumber);

  int start = -1, end = -1;
  ASSERT_TRUE(ZUtils::findFrameNumberDigits("dir/s_-0042x.neb", &start, &end));
  EXPECT_EQ(start, 6);
  EXPECT_EQ(end, 11);
}

TEST(FrameFromName, NumbersOutsideIntAreNoFrameNumber) {
  EXPECT_EQ(ZUtils::frameNumberFromFileName("f_2147483646.neb"), 2147483646);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("f_-2147483648.neb"), INT_MIN);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("f_2147483648.neb"), kNoFrameNumber);
  EXPECT_EQ(ZUtils::frameNumberFromFileName("f_99999999999999999999999999.neb"), kNoFrameNumber);
}

TEST(FrameFromName, RoundTripsWithExpansion) {
  const int frames[] = {0, 1, 7, 42, 999, 10000, -1, -250, 123456789};
  for (int f : frames) {
    for (const char* pattern : {"a/s_####.neb", "s.%05d.neb", "s<frame>.neb", "x_#.vdb"}) {
      EXPECT_EQ(ZUtils::frameNumberFromFileName(expandFramePattern(pattern, f, nullptr).c_str()), f)
          << pattern << " " << f;
    }
  }
}

TEST(FileExtension, LowerCasedAfterLastDot) {
  EXPECT_EQ(ZUtils::fileExtensionLower("A/B.Cache.NEB"), "neb");
  EXPECT_EQ(ZUtils::fileExtensionLower("x.Vdb"), "vdb");
  EXPECT_EQ(ZUtils::fileExtensionLower("dir.v2/file"), "v2/file");  // whole string, as documented
  EXPECT_EQ(ZUtils::fileExtensionLower("noext"), "");
  EXPECT_EQ(ZUtils::fileExtensionLower("trail."), "");
  EXPECT_EQ(ZUtils::fileExtensionLower("x.\xC3\x89Z"), "\xC3\x89z");  // only A-Z change
  EXPECT_EQ(ZUtils::fileExtensionLower(nullptr), "");
}
