#include "zutils/ThreadReportCapture.h"

namespace ZUtils {

namespace {
thread_local std::string* t_capture = nullptr;
}

ThreadReportCapture::ThreadReportCapture(std::string* sink) : previous_(t_capture) { t_capture = sink; }

ThreadReportCapture::~ThreadReportCapture() { t_capture = previous_; }

std::string* currentThreadReportCapture() { return t_capture; }

}  // namespace ZUtils
