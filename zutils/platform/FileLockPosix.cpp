#include "zutils/platform/FileLock.h"

#include <fcntl.h>
#include <unistd.h>

namespace ZUtils {
namespace platform {

namespace {

// l_start 0 with l_len 0 covers the whole file, including bytes appended later.
// Open-file-description locks require l_pid to be 0.
bool setLock(FILE* f, short type) {
  if (!f) return false;
  int fd = fileno(f);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  lock.l_pid = 0;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

bool lockFileNoWait(FILE* f, bool exclusive) { return setLock(f, exclusive ? F_WRLCK : F_RDLCK); }

bool unlockFile(FILE* f) { return setLock(f, F_UNLCK); }

bool flushFileToDisk(FILE* f) {
  if (!f) return false;
  bool flushed = std::fflush(f) == 0;
  int fd = fileno(f);
  bool synced = fd >= 0 && fsync(fd) == 0;
  return flushed && synced;
}

}  // namespace platform
}  // namespace ZUtils
