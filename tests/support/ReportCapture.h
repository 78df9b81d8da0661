// Captures what the library sends to the debugger output and to the report sink while a
// test runs. logReport messages reach the capture through the report file (all of them,
// without the leading '#'); debugger text through the debugger sink.
#pragma once

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "support/TempPaths.h"
#include "zutils/Report.h"

class ReportCapture {
 public:
  ReportCapture() {
    path_ = testsupport::freshTempFile("neb_report_");
    ZUtils::setReportFilePath(path_.c_str());
    debugger().clear();
    ZUtils::setDebugOutputSink(&ReportCapture::sink);
  }
  ~ReportCapture() {
    ZUtils::setReportFilePath(nullptr);
    ZUtils::setDebugOutputSink(nullptr);
    std::remove(path_.c_str());
  }
  // Everything logReport wrote since construction (without leading '#').
  std::string text() const {
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Everything sent to the debugger output since construction.
  std::string debugText() const {
    std::lock_guard<std::mutex> lock(mutex());
    return debugger();
  }

 private:
  static std::string& debugger() {
    static std::string s;
    return s;
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static void sink(const char* text) {
    std::lock_guard<std::mutex> lock(mutex());
    debugger() += text;
  }
  std::string path_;
};
