// Helpers for the tests of the shared library: temporary directories, text files, fake
// volume files for the stand-in plug-in, and capture of the library's own reports (the
// library keeps its report settings to itself; nebSetReportFilePath reaches them).
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "loader/ReportHook.h"
#include "support/TempPaths.h"
#include "support/TestEnvironment.h"

namespace loadertest {

// A fresh directory in the temporary folder, removed with its files at destruction.
class TempDir {
 public:
  TempDir() : path_(testsupport::freshTempDir("neb_loader_")) {}
  ~TempDir() { testsupport::removeTree(path_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A sized struct of the C interface, zeroed, with its size set (nebloader_c.h).
template <class T>
T sized() {
  T t{};
  t.size = sizeof t;
  return t;
}

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
  return testsupport::setModificationTime(path, seconds);
}

// File extension of plug-in modules.
#if defined(_WIN32)
constexpr const char* kModuleExtension = ".dll";
#else
constexpr const char* kModuleExtension = ".so";
#endif

// Address of `symbol` in a module the process has already loaded from `path` (it is not
// loaded here); null when the module is not loaded or lacks the symbol.
inline void* loadedModuleSymbol(const std::string& path, const char* symbol) {
#if defined(_WIN32)
  HMODULE module = GetModuleHandleA(path.c_str());
  return module ? reinterpret_cast<void*>(GetProcAddress(module, symbol)) : nullptr;
#else
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!module) return nullptr;
  void* address = dlsym(module, symbol);
  dlclose(module);  // the library's own reference keeps it loaded
  return address;
#endif
}

inline bool copyFile(const std::string& from, const std::string& to) {
  std::string bytes = readText(from);
  if (bytes.empty()) return false;
  if (!writeText(to, bytes)) return false;
  std::error_code ec;
  std::filesystem::permissions(to, std::filesystem::perms(0755), ec);  // a module is mapped executable
  return !ec;
}

// Routes the library's reports into a temporary file while alive.
class LibraryReports {
 public:
  LibraryReports() {
    path_ = testsupport::freshTempFile("neb_loader_report_");
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
