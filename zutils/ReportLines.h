// Captured report text (ThreadReportCapture, a host's report callback) as one line for a
// failure reason: the messages joined by "; ", trailing blanks and carriage returns cut,
// empty lines dropped. Header-only, so that a tool linked only to the shared library can
// use it without a second copy of the layers.
#pragma once

#include <string>

namespace ZUtils {

inline std::string joinReportLines(const std::string& reports) {
  std::string out;
  size_t start = 0;
  while (start < reports.size()) {
    size_t end = reports.find('\n', start);
    if (end == std::string::npos) end = reports.size();
    std::string line = reports.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) out += (out.empty() ? "" : "; ") + line;
    start = end + 1;
  }
  return out;
}

}  // namespace ZUtils
