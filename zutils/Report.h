// Diagnostics: the report sink (logReport), debugger tracing (debugPrint), the message
// exception and small bounded formatting helpers.
//
// Sinks:
//   - the debugger output: logReport copies messages whose format begins with '#' there
//     ('#' included); debugPrint sends everything there. On this platform the debugger
//     output is a process-wide sink (see setDebugOutputSink) that writes to standard error
//     only while a debugger is attached;
//   - an optional report file and an optional copy on standard output, both off by default
//     and written without the leading '#'. Nothing in the library turns them on; hosts and
//     tests use the setters below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zutils/PluginExport.h"

#if defined(__GNUC__)
#define NEB_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define NEB_PRINTF_LIKE(fmt, first)
#endif

namespace ZUtils {

// Levels of reports, as the C interface gives them to hosts (NEB_REPORT_... there).
enum ReportLevel : int { kReportDebug = 0, kReportInfo = 1, kReportWarning = 2, kReportError = 3 };

// A report whose level is its format's tag: a format beginning "[ERROR]" is an error, one
// beginning "[WARNING]" a warning, anything else information. The tag is part of the
// literal at the call site, never of formatted text.
NEB_PLUGIN_API void logReport(const char* format, ...) NEB_PRINTF_LIKE(1, 2);
// A report of the given level, for messages whose text carries no tag (the container
// reader's fixed failure messages, the frame registry's bookkeeping).
void logReportAt(int level, const char* format, ...) NEB_PRINTF_LIKE(2, 3);
void debugPrint(const char* format, ...) NEB_PRINTF_LIKE(1, 2);

// Bounded printf: a length <= 0 writes nothing and gives 0. Otherwise the text is cut to
// length - 1 characters and terminated; the result is -1 when formatting failed or the full
// text is longer than `length`, else the full text length.
int formatString(char* buffer, int length, const char* format, ...) NEB_PRINTF_LIKE(3, 4);

// Local-time stamps: "14:05:07" and "2015/Mar/9". An unrepresentable time gives the empty
// string and 0.
int formatTimeOfDay(char* buffer, int length, int64_t time);
int formatDate(char* buffer, int length, int64_t time);

// Report settings. All three are off/empty by default.
void setReportFilePath(const char* path);  // null or "" turns the file off
void setReportTimestamps(bool on);
void setReportToStdout(bool on);

// A function that receives every report as it is made (its level, the text as formatted,
// without the leading '#', cut at 4095 characters), with the pointer given here; null
// turns it off.
// It is called after the report lock is released, on the reporting thread, possibly on
// several threads at once; a report begun just before a change may still reach the
// previous function. The C interface hands reports to hosts through it.
typedef void (*ReportCallback)(int level, const char* text, void* user);
void setReportCallback(ReportCallback callback, void* user);

// The debugger output. The default sink writes to standard error while a debugger is
// attached to the process and drops the text otherwise. A host or a test may install its
// own sink (null restores the default). The sink receives one complete string per call and
// may be called from several threads at once.
typedef void (*DebugOutputSink)(const char* text);
void setDebugOutputSink(DebugOutputSink sink);
void outputDebugString(const char* text);

// Carries a formatted message (at most 1023 characters) when a failure must unwind.
class ExceptionMsg {
 public:
  explicit ExceptionMsg(const char* format, ...) NEB_PRINTF_LIKE(2, 3);
  ExceptionMsg(const ExceptionMsg&) = default;
  ExceptionMsg& operator=(const ExceptionMsg&) = default;
  virtual ~ExceptionMsg() = default;
  const char* message() const { return text; }

  char text[1024];
};

}  // namespace ZUtils
