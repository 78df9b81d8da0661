#include "zutils/Report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "zutils/ThreadReportCapture.h"
#include "zutils/platform/Debugger.h"
#include "zutils/platform/File.h"

namespace ZUtils {

namespace {

// Report settings. The mutex is created on first use and lives as long as the process
// (never destroyed, so reports from static destructors still work). It is recursive like
// the process mutex it stands for: a debugger sink that reports again on the same
// thread must not deadlock.
struct ReportSettings {
  std::string filePath;
  bool timestamps = false;
  bool toStdout = false;
  ReportCallback callback = nullptr;
  void* callbackUser = nullptr;
};

std::recursive_mutex& reportMutex() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

ReportSettings& settings() {
  static ReportSettings* s = new ReportSettings;
  return *s;
}

std::atomic<DebugOutputSink> g_sink{nullptr};

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool localTime(int64_t t, std::tm& out) {
  return platform::localTime(t, &out);
}

}  // namespace

void setReportFilePath(const char* path) {
  std::lock_guard<std::recursive_mutex> lock(reportMutex());
  settings().filePath = path ? path : "";
}

void setReportTimestamps(bool on) {
  std::lock_guard<std::recursive_mutex> lock(reportMutex());
  settings().timestamps = on;
}

void setReportToStdout(bool on) {
  std::lock_guard<std::recursive_mutex> lock(reportMutex());
  settings().toStdout = on;
}

void setReportCallback(ReportCallback callback, void* user) {
  std::lock_guard<std::recursive_mutex> lock(reportMutex());
  settings().callback = callback;
  settings().callbackUser = user;
}

void setDebugOutputSink(DebugOutputSink sink) { g_sink.store(sink); }

void outputDebugString(const char* text) {
  if (!text) return;
  DebugOutputSink sink = g_sink.load();
  if (sink) {
    sink(text);
    return;
  }
  if (platform::debuggerAttached()) platform::debuggerOutput(text);
}

int formatString(char* buffer, int length, const char* format, ...) {
  if (length <= 0 || !buffer) return 0;
  if (!format) {
    buffer[0] = '\0';
    return -1;
  }
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, static_cast<size_t>(length), format, args);
  va_end(args);
  buffer[length - 1] = '\0';
  if (n < 0) {
    buffer[0] = '\0';
    return -1;
  }
  if (n > length) return -1;
  return n;
}

int formatTimeOfDay(char* buffer, int length, int64_t time) {
  std::tm tm{};
  if (!localTime(time, tm)) {
    if (buffer && length > 0) buffer[0] = '\0';
    return 0;
  }
  return formatString(buffer, length, "%02i:%02i:%02i", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

int formatDate(char* buffer, int length, int64_t time) {
  std::tm tm{};
  if (!localTime(time, tm)) {
    if (buffer && length > 0) buffer[0] = '\0';
    return 0;
  }
  int month = tm.tm_mon < 0 ? 0 : (tm.tm_mon > 11 ? 11 : tm.tm_mon);
  return formatString(buffer, length, "%i/%s/%i", tm.tm_year + 1900, kMonths[month], tm.tm_mday);
}

void debugPrint(const char* format, ...) {
  if (!format) return;
  char buffer[4096];
  std::memset(buffer, 0, sizeof buffer);
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  buffer[sizeof buffer - 1] = '\0';
  outputDebugString(buffer);
}

namespace {

int levelOfFormat(const char* format) {
  if (std::strncmp(format, "[ERROR]", 7) == 0) return kReportError;
  if (std::strncmp(format, "[WARNING]", 9) == 0) return kReportWarning;
  return kReportInfo;
}

void reportWithLevel(int level, const char* format, va_list args) {
  const char* body = format[0] == '#' ? format + 1 : format;
  ReportCallback callback = nullptr;
  void* callbackUser = nullptr;
  char text[4096];
  text[0] = '\0';
  {
    std::lock_guard<std::recursive_mutex> lock(reportMutex());
    const ReportSettings& s = settings();
    callback = s.callback;
    callbackUser = s.callbackUser;

    // Binary append: the report file holds the same bytes on every system (Windows would
    // otherwise write each '\n' as CR LF).
    FILE* file = s.filePath.empty() ? nullptr : platform::openFile(s.filePath.c_str(), "ab");

    if (s.timestamps) {
      char date[64], tod[64];
      int64_t now = static_cast<int64_t>(std::time(nullptr));
      formatDate(date, sizeof date, now);
      formatTimeOfDay(tod, sizeof tod, now);
      if (file) std::fprintf(file, "[%s|%s] ", date, tod);
      if (s.toStdout) std::fprintf(stdout, "[%s|%s] ", date, tod);
    }

    if (format[0] == '#') {
      char buffer[1024];
      va_list copy;
      va_copy(copy, args);
      std::vsnprintf(buffer, sizeof buffer, format, copy);  // cut at 1023 characters
      va_end(copy);
      outputDebugString(buffer);
    }
    if (file) {
      va_list copy;
      va_copy(copy, args);
      std::vfprintf(file, body, copy);
      va_end(copy);
      std::fclose(file);
    }
    if (s.toStdout) {
      va_list copy;
      va_copy(copy, args);
      std::vfprintf(stdout, body, copy);
      va_end(copy);
      std::fflush(stdout);
    }
    if (std::string* capture = currentThreadReportCapture()) {
      char buffer[1024];
      va_list copy;
      va_copy(copy, args);
      std::vsnprintf(buffer, sizeof buffer, body, copy);  // cut at 1023 characters
      va_end(copy);
      capture->append(buffer);
    }
    if (callback) {
      va_list copy;
      va_copy(copy, args);
      std::vsnprintf(text, sizeof text, body, copy);  // cut at 4095 characters
      va_end(copy);
    }
  }
  // Outside the lock: a host's callback may wait for a lock of its own (an interpreter's)
  // that a thread reporting at the same time holds.
  if (callback) callback(level, text, callbackUser);
}

}  // namespace

void logReport(const char* format, ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  reportWithLevel(levelOfFormat(format), format, args);
  va_end(args);
}

void logReportAt(int level, const char* format, ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  reportWithLevel(level, format, args);
  va_end(args);
}

ExceptionMsg::ExceptionMsg(const char* format, ...) {
  std::memset(text, 0, sizeof text);
  if (!format) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
}

}  // namespace ZUtils
