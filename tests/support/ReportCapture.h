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
  // Whether the memory budget refused a request of `bytes` under a budget of `budget`
  // (ostutils/MemoryLimit.h), whatever was held then.
  bool hasBudgetRefusal(unsigned long long bytes, unsigned long long budget) const {
    const std::string all = text();
    const std::string head = "[ERROR] allocation of " + std::to_string(bytes) + " bytes refused: ";
    const std::string tail = " bytes held of the memory budget of " + std::to_string(budget) + " bytes";
    for (size_t at = all.find(head); at != std::string::npos; at = all.find(head, at + 1)) {
      const size_t held = at + head.size();
      const size_t end = all.find('\n', held);
      const std::string line = all.substr(held, end == std::string::npos ? std::string::npos : end - held);
      const size_t digits = line.find_first_not_of("0123456789");
      if (digits > 0 && digits != std::string::npos && line.substr(digits) == tail) return true;
    }
    return false;
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
