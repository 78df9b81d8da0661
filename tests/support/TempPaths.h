// Fresh names in the system's temporary folder, and making and removing directories,
// on every system.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testsupport {

// A path in the temporary folder that did not exist when looked at: prefix + random
// letters + suffix. `generic_string`, so tests join names with '/' on every system.
inline std::string freshTempPath(const std::string& prefix, const std::string& suffix = "") {
  static std::mt19937_64 random{std::random_device{}()};
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (;;) {
    std::string name = prefix;
    for (int i = 0; i < 10; ++i) name += letters[random() % 36];
    const std::filesystem::path p = (ec ? std::filesystem::path("/tmp") : base) / (name + suffix);
    if (!std::filesystem::exists(p)) return p.generic_string();
  }
}

// A new empty file in the temporary folder; its path.
inline std::string freshTempFile(const std::string& prefix, const std::string& suffix = "") {
  const std::string path = freshTempPath(prefix, suffix);
  if (FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
  return path;
}

// A new directory in the temporary folder; its path, empty when none could be made.
inline std::string freshTempDir(const std::string& prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = freshTempPath(prefix);
    std::error_code ec;
    if (std::filesystem::create_directory(path, ec)) return path;
  }
  return std::string();
}

// Makes one directory; true when it was created.
inline bool makeDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directory(path, ec);
}

inline void removeTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

}  // namespace testsupport
