// A fresh directory under /tmp for one test, removed with everything in it at scope exit.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/neb_test_XXXXXX";
    const char* made = mkdtemp(name);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
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
