#include "zutils/FileAccess.h"

#include "zutils/platform/File.h"

namespace ZUtils {

FILE* openFileUtf8(const char* name, const char* mode) { return platform::openFile(name, mode); }

int64_t fileModificationTime(const char* name) {
  int64_t seconds = 0;
  return platform::modificationTime(name, &seconds) ? seconds : 0;
}

}  // namespace ZUtils
