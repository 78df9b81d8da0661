#include "zutils/FileAccess.h"

#include <sys/stat.h>

namespace ZUtils {

// POSIX file names are byte strings, so the UTF-8 name is passed as it is. (A wide-API
// platform converts with utf8ToWide first; the escapes make that lossless.)
FILE* openFileUtf8(const char* name, const char* mode) {
  if (!name || !mode || !*name) return nullptr;
  return std::fopen(name, mode);
}

int64_t fileModificationTime(const char* name) {
  if (!name || !*name) return 0;
  struct stat st;
  if (stat(name, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

}  // namespace ZUtils
