#include "zutils/platform/File.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace ZUtils {
namespace platform {

static_assert(sizeof(off_t) == 8, "64-bit file offsets needed (files beyond 2 GiB)");

FILE* openFile(const char* utf8Name, const char* mode) {
  if (!utf8Name || !mode || !*utf8Name) return nullptr;
  return std::fopen(utf8Name, mode);
}

bool modificationTime(const char* utf8Name, int64_t* seconds) {
  if (!utf8Name || !*utf8Name || !seconds) return false;
  struct stat st;
  if (stat(utf8Name, &st) != 0) return false;
  *seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool fileSize(const char* utf8Name, int64_t* bytes) {
  if (!utf8Name || !*utf8Name || !bytes) return false;
  struct stat st;
  if (stat(utf8Name, &st) != 0) return false;
  *bytes = static_cast<int64_t>(st.st_size);
  return true;
}

bool fileStamp(const char* utf8Name, FileStamp* stamp) {
  if (!utf8Name || !*utf8Name || !stamp) return false;
  struct stat st;
  if (stat(utf8Name, &st) != 0) return false;
  // st_mtim (POSIX.1-2008) carries the nanoseconds the file system keeps.
  int64_t ns = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(st.st_mtim.tv_sec), INT64_C(1000000000), &ns) ||
      __builtin_add_overflow(ns, static_cast<int64_t>(st.st_mtim.tv_nsec), &ns))
    return false;
  stamp->bytes = static_cast<int64_t>(st.st_size);
  stamp->modifiedNs = ns;
  return true;
}

bool absolutePath(const char* utf8Path, std::string* absolute) {
  if (!utf8Path || !absolute) return false;
  if (utf8Path[0] == '/') {
    *absolute = utf8Path;
    return true;
  }
  std::string folder(256, '\0');
  while (!getcwd(&folder[0], folder.size())) {
    if (errno != ERANGE || folder.size() > (size_t(1) << 20)) return false;
    folder.resize(folder.size() * 2);
  }
  folder.resize(std::strlen(folder.c_str()));
  *absolute = folder + (folder.size() > 1 ? "/" : "") + utf8Path;
  return true;
}

bool seekFile(FILE* f, int64_t offset, int origin) {
  return f && fseeko(f, static_cast<off_t>(offset), origin) == 0;
}

int64_t tellFile(FILE* f) {
  if (!f) return -1;
  const off_t at = ftello(f);
  return at < 0 ? -1 : static_cast<int64_t>(at);
}

bool listDirectory(const char* utf8Dir, std::vector<std::string>* names) {
  if (!utf8Dir || !names) return false;
  DIR* dir = opendir(*utf8Dir ? utf8Dir : ".");
  if (!dir) return false;
  try {
    while (struct dirent* entry = readdir(dir)) names->push_back(entry->d_name);
  } catch (...) {
    closedir(dir);
    throw;
  }
  closedir(dir);
  return true;
}

bool localTime(int64_t seconds, struct tm* out) {
  if (!out) return false;
  const std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, out) != nullptr;
}

}  // namespace platform
}  // namespace ZUtils
