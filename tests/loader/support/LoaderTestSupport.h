// Helpers for the tests of the shared library: temporary directories, text files, fake
// volume files for the stand-in plug-in, and capture of the library's own reports (the
// library keeps its report settings to itself; nebSetReportFilePath reaches them).
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "loader/ReportHook.h"

namespace loadertest {

// A fresh directory under /tmp, removed with its files at destruction.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/neb_loader_XXXXXX";
    path_ = mkdtemp(name) ? name : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp") (void)std::system(cmd.c_str());
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool writeText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Sets the modification time of a file to `seconds` since the epoch.
inline bool setModificationTime(const std::string& path, long seconds) {
  struct timeval times[2];
  times[0].tv_sec = seconds;
  times[0].tv_usec = 0;
  times[1] = times[0];
  return utimes(path.c_str(), times) == 0;
}

inline bool copyFile(const std::string& from, const std::string& to) {
  std::string bytes = readText(from);
  if (bytes.empty()) return false;
  if (!writeText(to, bytes)) return false;
  return chmod(to.c_str(), 0755) == 0;
}

// Routes the library's reports into a temporary file while alive.
class LibraryReports {
 public:
  LibraryReports() {
    char name[] = "/tmp/neb_loader_report_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    nebSetReportFilePath(path_.c_str());
  }
  ~LibraryReports() {
    nebSetReportFilePath(nullptr);
    std::remove(path_.c_str());
  }
  std::string text() const { return readText(path_); }
  // Number of occurrences of `needle` in the reports so far.
  int count(const std::string& needle) const {
    std::string all = text();
    int n = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  std::string path_;
};

}  // namespace loadertest
