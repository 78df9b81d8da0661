#include "loader/ReportHook.h"
#include "zutils/Report.h"

extern "C" void nebSetReportFilePath(const char* path) {
  try {
    ZUtils::setReportFilePath(path);
  } catch (...) {
  }
}
