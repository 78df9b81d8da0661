// The built volconvert run as a process: exact standard output bytes and exit codes of
// the command-line cases that need no cache file.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "VolconvertProcess.h"
#include "tools/volconvert/ConsoleTexts.h"

using namespace VolConvert;

namespace {

std::string loadFailure(int k) {
  return "An error has been encountered while converting frame " + std::to_string(k) +
         ": Unable to load source cache \n";
}

}  // namespace

TEST(VolconvertProgram, NoArgumentsPrintsHelpAndMissingNames) {
  ProgramRun r = runVolconvert({});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Cache conversion tool (Ostrane SDK version 0x31200)\n"
            "-help :           Shows the help screen\n"
            "-credits :        Shows copyright notices for the cache converter and used libraries.\n"
            "-srcfile :        Input file(s) name or pattern. Use '##...#' as a frame number.\n"
            "-dstfile :        Output file(s) name or pattern. Use '##...#' as a frame number.\n"
            "-start/end :      Export range (inclusive) \n"
            "-silent :         Hide progress \n"
            "Example command line: \n"
            "volconvert.exe -srcfile ND2_OstraneFire001_####.neb -dstfile outFile_####.vdb -start 0 -end 10\n"
            "Source and destination files have not been set. Use \"-srcfile\" and \"-dstfile\" arguments\n");
}

TEST(VolconvertProgram, HelpAndCreditsDoNotEndTheProgram) {
  TempDir dir;
  ProgramRun r = runVolconvert({"-credits", "-help", "-silent", "-srcfile", dir / "none.neb", "-dstfile", dir / "o.vdb"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string(creditsText()) + versionLine(0x31200) + helpText() + loadFailure(1));
}

TEST(VolconvertProgram, EmptyRangeRunsNothing) {
  ProgramRun r = runVolconvert({"-srcfile", "a_####.neb", "-dstfile", "b_####.vdb", "-start", "5", "-end", "3"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
}

TEST(VolconvertProgram, UnreadableNumberExitsWithOneBeforeAnyConversion) {
  TempDir dir;
  ProgramRun start = runVolconvert({"-start", "x", "-srcfile", dir / "a.neb", "-dstfile", dir / "b.vdb"});
  EXPECT_EQ(start.exitCode, 1);
  EXPECT_EQ(start.out, "A number expected after -start.\n");
  ProgramRun end = runVolconvert({"-srcfile", dir / "a.neb", "-dstfile", dir / "b.vdb", "-end"});
  EXPECT_EQ(end.exitCode, 1);
  EXPECT_EQ(end.out, "A number expected after -end.\n");
}

TEST(VolconvertProgram, SingleFileModeUsesNamesLiterally) {
  TempDir dir;
  const std::string src = dir / "a_##.neb", dst = dir / "b_##.vdb";
  ProgramRun r = runVolconvert({"-srcfile", src, "-dstfile", dst});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Converting " + src + " to " + dst + " | 0..." + loadFailure(1));
}

TEST(VolconvertProgram, EndWithoutStartRunsFromFrameZero) {
  TempDir dir;
  ProgramRun r = runVolconvert({"-srcfile", dir / "a_####.neb", "-dstfile", dir / "b_####.vdb", "-end", "10"});
  EXPECT_EQ(r.exitCode, 0);
  std::string expect;
  for (int f = 0; f <= 10; ++f) {
    char num[8];
    std::snprintf(num, sizeof num, "%04d", f);
    expect += "Converting " + (dir / ("a_" + std::string(num) + ".neb")) + " to " +
              (dir / ("b_" + std::string(num) + ".vdb")) + " | 0..." + loadFailure(f + 1);
  }
  EXPECT_EQ(r.out, expect);
}

TEST(VolconvertProgram, SilentPrintsOnlyTheErrorLine) {
  TempDir dir;
  ProgramRun r = runVolconvert({"-silent", "-srcfile", dir / "a#.neb", "-dstfile", dir / "b#.vdb", "-start", "7", "-end", "7"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, loadFailure(1));
}

TEST(VolconvertProgram, ForeignSourcesCannotBeLoaded) {
  TempDir dir;
  // A source that exists but is of a format only the (never loaded) import plug-ins read.
  const std::string src = dir / "in.vdb";
  FILE* f = std::fopen(src.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("not a cache", f);
  std::fclose(f);
  ProgramRun r = runVolconvert({"-silent", "-srcfile", src, "-dstfile", dir / "out.vdb"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, loadFailure(1));
}
