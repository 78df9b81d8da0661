// What the plug-in suites share: a built plug-in module linked into a directory of its own
// (loaded with that directory as search path and "test" as suffix; the plug-in table is
// process-wide, so once per test program), and the library's listing and default-mapping
// exports as a host calls them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "loader/support/LoaderTestSupport.h"
#include "nebloader.h"

namespace plugintest {

// A directory holding `module` as <stem>_test.so. The caller keeps it for the rest of the
// process (the module stays loaded from it).
inline loadertest::TempDir* linkedModuleDir(const char* module, const std::string& stem) {
  auto* d = new loadertest::TempDir;
  if (symlink(module, d->file(stem + "_test.so").c_str()) != 0) ADD_FAILURE() << "cannot link " << module;
  return d;
}

inline std::string defaultMapping(const std::string& path) {
  char buffer[1024];
  EXPECT_EQ(nebGenerateDefaultChannelMappings(buffer, sizeof buffer, path.c_str()), 1);
  return buffer;
}

// The offered channel names and flags of a file, through the library's listing export.
inline std::vector<std::pair<std::string, int>> offered(const std::string& path) {
  std::vector<std::pair<std::string, int>> out;
  for (int i = 0;; ++i) {
    char name[256];
    int flag = -1;
    if (nebGet3rdPartyChannelName(name, sizeof name, &flag, path.c_str(), i) != 1) break;
    out.emplace_back(name, flag);
  }
  return out;
}

}  // namespace plugintest
