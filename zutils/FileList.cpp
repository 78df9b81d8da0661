#include "zutils/FileList.h"

#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "zutils/Report.h"

namespace ZUtils {

void FileNameList::clear() {
  for (int i = 0; i < itemCount; ++i) std::free(items[i]);
  std::free(items);
  items = nullptr;
  itemCount = 0;
  position = 0;
}

namespace {

// The listing wildcard knows only '*' and '?'. fnmatch would also read '[' as a class
// and '\' as an escape, so a name such as "take[2]_*.neb" would no longer match itself;
// those characters are escaped to stand for themselves.
std::string literalWildcard(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p) {
    if (*p == '[' || *p == ']' || *p == '\\') out += '\\';
    out += *p;
  }
  return out;
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
  const std::string wildcard = literalWildcard(nameStart);
  if (wildcard.empty()) return false;

  DIR* dir = opendir(prefix.empty() ? "." : prefix.c_str());
  if (!dir) return false;

  std::vector<std::string> found;
  try {
    while (struct dirent* entry = readdir(dir)) {
      if (skipped(entry->d_name)) continue;
      if (fnmatch(wildcard.c_str(), entry->d_name, 0) != 0) continue;
      found.push_back(prefix + entry->d_name);
    }
  } catch (const std::bad_alloc&) {
    closedir(dir);
    logReport("[ERROR] listFiles ran out of memory listing %s\n", pattern);
    return false;
  }
  closedir(dir);

  // readdir order depends on the file system; sorting keeps "first found" stable.
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
