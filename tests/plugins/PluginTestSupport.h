// What the plug-in suites share: a built plug-in module linked into a directory of its own
// (loaded with that directory as search path and "test" as suffix; the plug-in table is
// process-wide, so once per test program), and the library's listing and default-mapping
// exports as a host calls them.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <utility>
#include <vector>

#include "loader/support/LoaderTestSupport.h"
#include "nebloader.h"

namespace plugintest {

// A directory holding `module` as <stem>_test.so (.dll). The caller keeps it for the rest
// of the process (the module stays loaded from it). Linked where links are cheap, copied on
// Windows.
inline loadertest::TempDir* linkedModuleDir(const char* module, const std::string& stem) {
  auto* d = new loadertest::TempDir;
  const std::string name = d->file(stem + "_test" + loadertest::kModuleExtension);
#ifdef _WIN32
  if (!loadertest::copyFile(module, name)) ADD_FAILURE() << "cannot copy " << module;
#else
  if (symlink(module, name.c_str()) != 0) ADD_FAILURE() << "cannot link " << module;
#endif
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
