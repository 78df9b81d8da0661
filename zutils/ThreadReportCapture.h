// Per-thread copy of the report sink: while a ThreadReportCapture lives on a thread, every
// logReport made on that thread is also appended to its string (text as formatted, without
// the leading '#'). A tool that checks several frames at once on several threads uses it to
// tie each message to the frame whose decode produced it. The decoders' jobs forward it:
// while a thread runs jobs on pool threads (ostutils/OstParallel.h), their reports go to
// that thread's capture as well. Captures nest: the innermost one receives the text.
#pragma once

#include <string>

namespace ZUtils {

class ThreadReportCapture {
 public:
  explicit ThreadReportCapture(std::string* sink);
  ~ThreadReportCapture();
  ThreadReportCapture(const ThreadReportCapture&) = delete;
  ThreadReportCapture& operator=(const ThreadReportCapture&) = delete;

 private:
  std::string* previous_;
};

// The calling thread's current capture string, or null.
std::string* currentThreadReportCapture();

}  // namespace ZUtils
