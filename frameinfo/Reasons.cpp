#include "frameinfo/Reasons.h"

#include <algorithm>

#include "nebloader_c.h"
#include "zutils/ReportLines.h"

namespace NebFrameInfo {

namespace {

// The report text of the calling thread's capture.
thread_local std::string* tCapture = nullptr;

void captureReport(int, const char* text, void*) {
  if (tCapture && text) tCapture->append(text);
}

}  // namespace

void installReportCapture() { neb_set_report_callback(&captureReport, nullptr); }

ReportCapture::ReportCapture(std::string* sink) : previous_(tCapture) { tCapture = sink; }

ReportCapture::~ReportCapture() { tCapture = previous_; }

std::string reasonOf(const std::string& reports, const char* fallback) {
  const std::string line = ZUtils::joinReportLines(reports);
  return line.empty() ? fallback : line;
}

std::string lastFailure() {
  const int length = std::max(0, neb_last_error(nullptr, 0));
  std::string text(static_cast<size_t>(length) + 1, '\0');
  neb_last_error(&text[0], static_cast<long long>(text.size()));
  text.resize(static_cast<size_t>(length));
  const size_t lineEnd = std::min(text.find('\n'), text.size());
  const size_t colon = text.find(": ");
  const std::string status = colon < lineEnd ? text.substr(colon + 2, lineEnd - colon - 2) : text.substr(0, lineEnd);
  const std::string reports = lineEnd < text.size() ? reasonOf(text.substr(lineEnd + 1), "") : std::string();
  if (status.empty()) return reports.empty() ? "failed" : reports;
  return reports.empty() ? status : status + ": " + reports;
}

}  // namespace NebFrameInfo
