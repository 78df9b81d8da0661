#include "tools/volconvert/CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "tools/volconvert/ConsoleTexts.h"

using namespace VolConvert;

namespace {

struct Parsed {
  bool ok;
  ConvertSettings settings;
  std::string out;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "volconvert");
  Parsed p;
  ZUtils::StringConsole out;
  p.ok = parseCommandLine(int(args.size()), args.data(), 0x31200, p.settings, out);
  p.out = out.text();
  return p;
}

}  // namespace

TEST(ReadFrameNumber, ScansLikePercentD) {
  int v = 77;
  EXPECT_EQ(readFrameNumber("12abc", &v), 1);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(readFrameNumber("  \t-42", &v), 1);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(readFrameNumber("+7", &v), 1);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(readFrameNumber("-2147483648", &v), 1);
  EXPECT_EQ(v, INT_MIN);
  EXPECT_EQ(readFrameNumber("2147483647", &v), 1);
  EXPECT_EQ(v, INT_MAX);
}

TEST(ReadFrameNumber, NoNumberOrOutOfRangeIsRefused) {
  int v = 77;
  for (const char* bad : {"x", "-", "+", " -x", "abc12", "2147483648", "-2147483649", "99999999999999999999"}) {
    EXPECT_EQ(readFrameNumber(bad, &v), -1) << bad;
  }
  EXPECT_EQ(v, 77);
}

TEST(ReadFrameNumber, EmptyOrBlankLeavesValue) {
  int v = 77;
  EXPECT_EQ(readFrameNumber("", &v), 0);
  EXPECT_EQ(readFrameNumber("  \n", &v), 0);
  EXPECT_EQ(v, 77);
}

TEST(ParseCommandLine, DefaultsWithoutOptions) {
  Parsed p = parse({"unknown", "-SILENT", "-srcfilex"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out, "");
  EXPECT_FALSE(p.settings.sourceGiven);
  EXPECT_FALSE(p.settings.destinationGiven);
  EXPECT_EQ(p.settings.startFrame, 0);
  EXPECT_EQ(p.settings.endFrame, -1);
  EXPECT_TRUE(p.settings.progress);
}

TEST(ParseCommandLine, ValueOptionsConsumeTheNextArgumentWhateverItIs) {
  Parsed p = parse({"-srcfile", "-silent", "-dstfile", "-start", "-start", "3", "-end", "12abc"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.settings.source, "-silent");
  EXPECT_EQ(p.settings.destination, "-start");
  EXPECT_TRUE(p.settings.progress);
  EXPECT_EQ(p.settings.startFrame, 3);
  EXPECT_EQ(p.settings.endFrame, 12);
  EXPECT_FALSE(isSingleFileMode(p.settings));
}

TEST(ParseCommandLine, LaterOccurrencesWinAndEmptyValueKeepsSetting) {
  Parsed p = parse({"-srcfile", "a", "-srcfile", "b", "-start", "4", "-start", "", "-end", "9", "-end", "10"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.settings.source, "b");
  EXPECT_EQ(p.settings.startFrame, 4);
  EXPECT_EQ(p.settings.endFrame, 10);
}

TEST(ParseCommandLine, NameOptionLastGivesEmptyGivenName) {
  Parsed p = parse({"-dstfile", "b.vdb", "-srcfile"});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.settings.sourceGiven);
  EXPECT_EQ(p.settings.source, "");
  EXPECT_TRUE(isSingleFileMode(p.settings));
}

TEST(ParseCommandLine, UnreadableNumberStopsWithItsMessage) {
  Parsed start = parse({"-start", "x", "-help", "-srcfile", "a"});
  EXPECT_FALSE(start.ok);
  EXPECT_EQ(start.out, "A number expected after -start.\n");
  EXPECT_FALSE(start.settings.sourceGiven);

  Parsed end = parse({"-silent", "-end"});
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.out, "A number expected after -end.\n");
  EXPECT_FALSE(end.settings.progress);
}

TEST(ParseCommandLine, HelpAndCreditsPrintWhereTheyStand) {
  Parsed p = parse({"-credits", "-silent", "-help", "-end", "zz"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, std::string(creditsText()) + versionLine(0x31200) + helpText() + kEndNumberExpected);
}

TEST(ConsoleTexts, VersionLineAndCreditsNameTheLibraries) {
  EXPECT_EQ(versionLine(0x31200), "Cache conversion tool (Ostrane SDK version 0x31200)\n");
  const std::string credits = creditsText();
  for (const char* word : {"volconvert", "zlib", "Boost", "OpenVDB", "TBB", "License"})
    EXPECT_NE(credits.find(word), std::string::npos) << word;
  EXPECT_EQ(credits.back(), '\n');
}
