// A fresh directory under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <string>

class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/neb_test_XXXXXX";
    const char* made = mkdtemp(name);
    path_ = made ? made : "";
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
