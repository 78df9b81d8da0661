#include "tools/volconvert/FrameLoop.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <vector>

#include "FakeFrame.h"
#include "tools/volconvert/VolConvert.h"

using namespace VolConvert;

namespace {

// Loads every path except those listed as missing; export results scripted by call.
class ScriptedConverter : public FrameConverter {
 public:
  std::set<std::string> missing;
  std::map<int, ExportResult> resultOfCall;  // 1-based export call -> result
  std::vector<std::string> loaded, exported;
  int live = 0, released = 0;

  INeb* loadFrame(const std::string& path) override {
    loaded.push_back(path);
    INeb* frame = nullptr;
    if (!missing.count(path)) {
      ++live;
      frame = new FakeFrame(1, 1, 1);
    }
    return frame;
  }
  void releaseFrame(INeb* frame) override {
    --live;
    ++released;
    delete frame;
  }
  ExportResult exportFrame(const std::string& destination, INeb&) override {
    exported.push_back(destination);
    auto it = resultOfCall.find(int(exported.size()));
    return it == resultOfCall.end() ? ExportResult() : it->second;
  }
};

ExportResult result(int code, const char* reason = "") {
  ExportResult r;
  r.code = code;
  r.reason = reason;
  return r;
}

int run(std::vector<const char*> args, ScriptedConverter& converter, std::string& out) {
  args.insert(args.begin(), "volconvert");
  ZUtils::StringConsole console;
  const int code = runVolConvert(int(args.size()), args.data(), 0x31200, converter, console);
  out = console.text();
  return code;
}

}  // namespace

TEST(FrameLoop, RangeExpandsPatternsAndCountsFromOne) {
  ScriptedConverter c;
  std::string out;
  EXPECT_EQ(run({"-srcfile", "a_####.neb", "-dstfile", "b_####.vdb", "-start", "3", "-end", "4"}, c, out), 0);
  EXPECT_EQ(out,
            "Converting a_0003.neb to b_0003.vdb | 0......50......100 | 1/2\n"
            "Converting a_0004.neb to b_0004.vdb | 0......50......100 | 2/2\n");
  EXPECT_EQ(c.exported, (std::vector<std::string>{"b_0003.vdb", "b_0004.vdb"}));
  EXPECT_EQ(c.live, 0);
}

TEST(FrameLoop, ExportFailuresPrintTheirReasonsAndTheLoopGoesOn) {
  ScriptedConverter c;
  c.resultOfCall[4] = result(kExportChannelUnavailable);
  c.resultOfCall[5] = result(kExportWriteFailed, "ignored");
  c.resultOfCall[6] = result(kExportBadTransform, "Singular grid transform");
  std::string out;
  EXPECT_EQ(run({"-srcfile", "s#.neb", "-dstfile", "d#.vdb", "-start", "1", "-end", "7"}, c, out), 0);
  EXPECT_EQ(out,
            "Converting s1.neb to d1.vdb | 0......50......100 | 1/7\n"
            "Converting s2.neb to d2.vdb | 0......50......100 | 2/7\n"
            "Converting s3.neb to d3.vdb | 0......50......100 | 3/7\n"
            "Converting s4.neb to d4.vdb | 0......50...An error has been encountered while converting frame 4: "
            "Unable to expand a source channel\n"
            "Converting s5.neb to d5.vdb | 0......50...An error has been encountered while converting frame 5: "
            "Unable to write to destination file\n"
            "Converting s6.neb to d6.vdb | 0......50...An error has been encountered while converting frame 6: "
            "Singular grid transform\n"
            "Converting s7.neb to d7.vdb | 0......50......100 | 7/7\n");
  EXPECT_EQ(c.released, 7);
  EXPECT_EQ(c.live, 0);
}

TEST(FrameLoop, SilentPrintsOnlyErrorLines) {
  ScriptedConverter c;
  c.missing.insert("s2.neb");
  c.resultOfCall[2] = result(kExportOutOfMemory, "Out of memory");
  std::string out;
  EXPECT_EQ(run({"-silent", "-srcfile", "s#.neb", "-dstfile", "d#.vdb", "-start", "1", "-end", "4"}, c, out), 0);
  EXPECT_EQ(out,
            "An error has been encountered while converting frame 2: Unable to load source cache \n"
            "An error has been encountered while converting frame 3: Out of memory\n");
  EXPECT_EQ(c.exported.size(), 3u);
}

TEST(FrameLoop, SingleFileModeUsesNamesLiterallyOnce) {
  ScriptedConverter c;
  std::string out;
  EXPECT_EQ(run({"-srcfile", "a_##.neb", "-dstfile", "b_##.vdb", "-start", "7"}, c, out), 0);
  EXPECT_EQ(out, "Converting a_##.neb to b_##.vdb | 0......50......100 | 1/1\n");
  EXPECT_EQ(c.loaded, std::vector<std::string>{"a_##.neb"});
}

TEST(FrameLoop, MissingNamesAreReportedAndARangeStillRuns) {
  ScriptedConverter c;
  c.missing.insert("x");
  std::string out;
  EXPECT_EQ(run({"-silent", "-srcfile", "x", "-end", "1"}, c, out), 0);
  EXPECT_EQ(out,
            "Source and destination files have not been set. Use \"-srcfile\" and \"-dstfile\" arguments\n"
            "An error has been encountered while converting frame 1: Unable to load source cache \n"
            "An error has been encountered while converting frame 2: Unable to load source cache \n");
  EXPECT_EQ(c.loaded, (std::vector<std::string>{"x", "x"}));
}

TEST(FrameLoop, RangeEndingAtLargestIntTerminates) {
  ScriptedConverter c;
  ConvertSettings s;
  s.source = "s";
  s.destination = "d";
  s.sourceGiven = s.destinationGiven = true;
  s.startFrame = INT_MAX - 1;
  s.endFrame = INT_MAX;
  s.progress = false;
  ZUtils::StringConsole out;
  EXPECT_EQ(runFrameLoop(s, c, out), 0);
  EXPECT_EQ(c.loaded.size(), 2u);
}

