#include "python/ReportLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "loader/ReportHook.h"
#include "python/PrivateLayers.h"

namespace NebPy {

namespace {

// The file only grows; past this size it is emptied at the next mark (a message being
// written at that moment may be lost from a reason, never from a later one).
const int64_t kTruncateBytes = 4 << 20;
const char* const kBookkeeping = "OstraneFrameData refCount";

int64_t fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

ReportLog& reportLog() {
  static ReportLog* log = new ReportLog;  // lives until exit: destructors may still report
  return *log;
}

bool ReportLog::start() {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/nebloader-python-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  close(fd);
  path_ = name.data();
  nebSetReportFilePath(path_.c_str());
  nebpySetReportFilePath(path_.c_str());
  return true;
}

void ReportLog::stop() {
  if (path_.empty()) return;
  nebSetReportFilePath(nullptr);
  nebpySetReportFilePath(nullptr);
  unlink(path_.c_str());
  path_.clear();
}

int64_t ReportLog::mark() {
  if (path_.empty()) return 0;
  int64_t size = fileSize(path_);
  if (size > kTruncateBytes && truncate(path_.c_str(), 0) == 0) size = 0;
  return size;
}

std::string ReportLog::since(int64_t mark) {
  if (path_.empty()) return std::string();
  FILE* f = std::fopen(path_.c_str(), "rb");
  if (!f) return std::string();
  // A truncation by another thread since `mark` leaves a shorter file: read it whole.
  if (mark > fileSize(path_)) mark = 0;
  std::fseek(f, static_cast<long>(mark), SEEK_SET);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);

  std::string reason;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (!line.empty() && line.compare(0, std::strlen(kBookkeeping), kBookkeeping) != 0) {
      if (!reason.empty()) reason += '\n';
      reason += line;
    }
    start = end + 1;
  }
  return reason;
}

}  // namespace NebPy
