#include "zutils/FileList.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "zutils/Report.h"
#include "zutils/platform/File.h"

namespace ZUtils {

void FileNameList::clear() {
  for (int i = 0; i < itemCount; ++i) std::free(items[i]);
  std::free(items);
  items = nullptr;
  itemCount = 0;
  position = 0;
}

namespace {

// The listing wildcard knows only '*' (any run of bytes, empty included) and '?' (one
// byte); every other byte, '[' and '\\' included, stands for itself, so a name such as
// "take[2]_*.neb" matches itself. Byte-wise, and so case-sensitive, on every system: a
// pattern selects the same files on Linux and Windows. Backtracks only to the last '*',
// which is enough for this wildcard (linear in practice, quadratic at worst).
bool wildcardMatch(const char* pattern, const char* name) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = ++pattern;
      starN = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool skipped(const char* entry) {
  return std::strcmp(entry, ".") == 0 || std::strncmp(entry, "..", 2) == 0;
}

}  // namespace

bool listFiles(const char* pattern, FileNameList& list) {
  list.clear();
  if (!pattern || !*pattern) return false;

  const char* nameStart = pattern;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '/' || *p == '\\') nameStart = p + 1;
  }
  const std::string prefix(pattern, static_cast<size_t>(nameStart - pattern));
  const std::string wildcard(nameStart);
  if (wildcard.empty()) return false;

  std::vector<std::string> found;
  try {
    std::vector<std::string> entries;
    if (!platform::listDirectory(prefix.empty() ? "." : prefix.c_str(), &entries)) return false;
    for (const std::string& entry : entries) {
      if (skipped(entry.c_str())) continue;
      if (!wildcardMatch(wildcard.c_str(), entry.c_str())) continue;
      found.push_back(prefix + entry);
    }
  } catch (const std::bad_alloc&) {
    logReport("[ERROR] listFiles ran out of memory listing %s\n", pattern);
    return false;
  }

  // Directory order depends on the file system; sorting keeps "first found" stable.
  std::sort(found.begin(), found.end());
  if (found.empty()) return false;
  if (found.size() > static_cast<size_t>(INT32_MAX)) found.resize(INT32_MAX);

  // Every string is obtained before the list takes them, so a failure leaks nothing and
  // leaves the list empty.
  list.items = static_cast<char**>(std::calloc(found.size(), sizeof(char*)));
  if (!list.items) {
    logReport("[ERROR] listFiles could not store %d file names\n", static_cast<int>(found.size()));
    return false;
  }
  for (const std::string& name : found) {
    char* copy = strdup(name.c_str());
    if (!copy) {
      logReport("[ERROR] listFiles could not store %d file names\n", static_cast<int>(found.size()));
      list.clear();
      return false;
    }
    list.items[list.itemCount++] = copy;
  }
  return true;
}

}  // namespace ZUtils
