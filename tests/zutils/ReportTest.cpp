#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "support/ReportCapture.h"
#include "support/TestEnvironment.h"
#include "zutils/Report.h"

namespace {

std::string g_sunk;
void collectSink(const char* text) { g_sunk += text; }

// Installs collectSink without any report file, for tests of the default settings.
struct SinkOnly {
  SinkOnly() {
    g_sunk.clear();
    ZUtils::setDebugOutputSink(&collectSink);
  }
  ~SinkOnly() { ZUtils::setDebugOutputSink(nullptr); }
};

std::set<std::string> directoryEntries(const std::string& path) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path, ec)) names.insert(e.path().filename().string());
  return names;
}

// Runs the stamps in UTC so the expected texts do not depend on the machine's zone.
struct UtcZone {
  UtcZone() {
    const char* tz = std::getenv("TZ");
    had_ = tz != nullptr;
    if (had_) old_ = tz;
    testsupport::setEnv("TZ", "UTC");
    testsupport::reloadTimeZone();
  }
  ~UtcZone() {
    if (had_) testsupport::setEnv("TZ", old_.c_str());
    else testsupport::unsetEnv("TZ");
    testsupport::reloadTimeZone();
  }
  bool had_;
  std::string old_;
};

}  // namespace

TEST(LogReport, HashMessageGoesToDebuggerWithHashAndToFileWithout) {
  ReportCapture capture;
  ZUtils::logReport("#frame %d of %s\n", 12, "smoke");
  EXPECT_EQ(capture.debugText(), "#frame 12 of smoke\n");
  EXPECT_EQ(capture.text(), "frame 12 of smoke\n");
}

TEST(LogReport, PlainMessageReachesOnlyTheFile) {
  ReportCapture capture;
  ZUtils::logReport("[ERROR] broken %s\n", "block");
  EXPECT_EQ(capture.debugText(), "");
  EXPECT_EQ(capture.text(), "[ERROR] broken block\n");
}

TEST(LogReport, MessagesAppendAndNoLineBreakIsAdded) {
  ReportCapture capture;
  ZUtils::logReport("a");
  ZUtils::logReport("#b");
  ZUtils::logReport("c\n");
  EXPECT_EQ(capture.text(), "abc\n");
  EXPECT_EQ(capture.debugText(), "#b");
}

TEST(LogReport, NullFormatDoesNothing) {
  ReportCapture capture;
  ZUtils::logReport(nullptr);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(capture.debugText(), "");
}

TEST(LogReport, DefaultSettingsWriteNothingAndCreateNoFile) {
  const std::string cwd = std::filesystem::current_path().string();
  const std::set<std::string> before = directoryEntries(cwd);
  SinkOnly sink;
  testing::internal::CaptureStdout();
  ZUtils::logReport("plain message\n");
  ZUtils::logReport("#debugger message\n");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  EXPECT_EQ(g_sunk, "#debugger message\n");  // only the '#' message, and only there
  EXPECT_EQ(directoryEntries(cwd), before);
}

TEST(LogReport, UnusableFileIsSkippedSilently) {
  SinkOnly sink;
  ZUtils::setReportFilePath("/nonexistent_dir_for_neb/report.txt");
  ZUtils::logReport("#still reaches the debugger\n");
  ZUtils::setReportFilePath(nullptr);
  EXPECT_EQ(g_sunk, "#still reaches the debugger\n");
}

TEST(LogReport, StdoutCopyHasNoHash) {
  ReportCapture capture;
  ZUtils::setReportToStdout(true);
  testing::internal::CaptureStdout();
  ZUtils::logReport("#to console %d\n", 3);
  ZUtils::logReport("plain\n");
  const std::string out = testing::internal::GetCapturedStdout();
  ZUtils::setReportToStdout(false);
  EXPECT_EQ(out, "to console 3\nplain\n");
}

TEST(LogReport, TimestampPrefixShape) {
  ReportCapture capture;
  ZUtils::setReportTimestamps(true);
  ZUtils::logReport("#stamped\n");
  ZUtils::setReportTimestamps(false);
  const std::regex shape(
      R"(^\[\d{4}/(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[1-9]\d?\|\d\d:\d\d:\d\d\] stamped\n$)");
  EXPECT_TRUE(std::regex_match(capture.text(), shape)) << capture.text();
  EXPECT_EQ(capture.debugText(), "#stamped\n");  // the stamp goes to file and console only
}

TEST(LogReport, DebuggerCopyIsCutAt1023Characters) {
  ReportCapture capture;
  const std::string body(2000, 'm');
  ZUtils::logReport("#%s", body.c_str());
  EXPECT_EQ(capture.debugText(), "#" + std::string(1022, 'm'));
  EXPECT_EQ(capture.text(), body);  // the file gets the whole message
}

TEST(LogReport, SinkThatReportsAgainDoesNotDeadlock) {
  ReportCapture capture;
  static int depth = 0;
  ZUtils::setDebugOutputSink([](const char* text) {
    if (depth++ == 0) ZUtils::logReport("nested after %s", text);
  });
  ZUtils::logReport("#outer\n");
  ZUtils::setDebugOutputSink(nullptr);
  EXPECT_EQ(capture.text(), "nested after #outer\nouter\n");
}

TEST(DebugPrint, LongTextIsCutTo4095Characters) {
  SinkOnly sink;
  std::string text(5000, 'a');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  ZUtils::debugPrint("%s", text.c_str());
  EXPECT_EQ(g_sunk, text.substr(0, 4095));
}

TEST(DebugPrint, FormatsEverythingRegardlessOfHash) {
  SinkOnly sink;
  ZUtils::debugPrint("thread %d started\n", 4);
  EXPECT_EQ(g_sunk, "thread 4 started\n");
}

TEST(FormatString, NonPositiveLengthWritesNothing) {
  char buffer[8] = "keep";
  EXPECT_EQ(ZUtils::formatString(buffer, 0, "%s", "text"), 0);
  EXPECT_EQ(ZUtils::formatString(buffer, -5, "%s", "text"), 0);
  EXPECT_STREQ(buffer, "keep");
}

TEST(FormatString, FitCutAndResult) {
  char buffer[16];
  EXPECT_EQ(ZUtils::formatString(buffer, 16, "%d-%s", 42, "ab"), 5);
  EXPECT_STREQ(buffer, "42-ab");
  // Full text exactly as long as the buffer: cut by one, but not "longer than length".
  EXPECT_EQ(ZUtils::formatString(buffer, 5, "hello"), 5);
  EXPECT_STREQ(buffer, "hell");
  EXPECT_EQ(ZUtils::formatString(buffer, 4, "hello"), -1);
  EXPECT_STREQ(buffer, "hel");
  EXPECT_EQ(ZUtils::formatString(buffer, 1, "hello"), -1);
  EXPECT_STREQ(buffer, "");
}

TEST(FormatString, NeverWritesPastLength) {
  char buffer[12];
  std::memset(buffer, '#', sizeof buffer);
  ZUtils::formatString(buffer, 6, "%s", "0123456789");
  EXPECT_STREQ(buffer, "01234");
  for (size_t i = 6; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
}

TEST(Stamps, DateAndTimeOfDayOfAKnownInstant) {
  UtcZone utc;
  char date[32], tod[32];
  const int64_t t = 1425909907;  // 2015-03-09 14:05:07 UTC
  EXPECT_EQ(ZUtils::formatDate(date, sizeof date, t), 10);
  EXPECT_STREQ(date, "2015/Mar/9");
  EXPECT_EQ(ZUtils::formatTimeOfDay(tod, sizeof tod, t), 8);
  EXPECT_STREQ(tod, "14:05:07");
  EXPECT_EQ(ZUtils::formatTimeOfDay(tod, sizeof tod, 1420070400 + 3600 * 9 + 65), 8);  // 2015-01-01
  EXPECT_STREQ(tod, "09:01:05");
  EXPECT_EQ(ZUtils::formatDate(date, sizeof date, 1420070400 + 86400 * 364), 11);
  EXPECT_STREQ(date, "2015/Dec/31");
}

TEST(Stamps, UnrepresentableTimeGivesEmptyStamp) {
  char date[32] = "old", tod[32] = "old";
  EXPECT_EQ(ZUtils::formatDate(date, sizeof date, INT64_MAX), 0);
  EXPECT_STREQ(date, "");
  EXPECT_EQ(ZUtils::formatTimeOfDay(tod, sizeof tod, INT64_MAX), 0);
  EXPECT_STREQ(tod, "");
}

TEST(ExceptionMsg, FormatsCutsAndCopies) {
  ZUtils::ExceptionMsg e("[_SequenceBlock] Could not allocate %s", "memory");
  EXPECT_STREQ(e.message(), "[_SequenceBlock] Could not allocate memory");

  const std::string huge(3000, 'z');
  ZUtils::ExceptionMsg cut("%s", huge.c_str());
  EXPECT_EQ(std::string(cut.message()), huge.substr(0, 1023));

  ZUtils::ExceptionMsg copy = e;
  e.text[0] = '!';
  EXPECT_EQ(copy.message()[0], '[');

  try {
    throw ZUtils::ExceptionMsg("code %d", 7);
  } catch (const ZUtils::ExceptionMsg& caught) {
    EXPECT_STREQ(caught.message(), "code 7");
  }
}
