// A fresh directory under the system's temporary folder for one test, removed with
// everything in it at scope exit.
#pragma once

#include <cstdio>
#include <string>

#include "support/TempPaths.h"

class TempDir {
 public:
  TempDir() : path_(testsupport::freshTempDir("neb_test_")) {}
  ~TempDir() { testsupport::removeTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Full path of `relative` inside the directory.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Creates (or truncates) a file holding `content`; false on failure.
  bool touch(const std::string& relative, const std::string& content = "x") const {
    FILE* f = std::fopen((*this / relative).c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  std::string path_;
};
