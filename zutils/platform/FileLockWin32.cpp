#include "zutils/platform/FileLock.h"
#include "zutils/platform/Kernel32.h"

#include <io.h>

namespace ZUtils {
namespace platform {

// Byte-range locks over the whole file (offset 0, length 2^64 - 1, so bytes appended
// later are covered too). They belong to the file handle, so two fopen() calls on one
// file in the same process conflict just as two processes do. Unlike the Linux locks they
// are mandatory: while a shared lock is held nobody writes the file, while an exclusive
// one is held only its own handle reads or writes it. Closing the stream releases them.

namespace {

HANDLE handleOf(FILE* f) {
  if (!f) return INVALID_HANDLE_VALUE;
  const int fd = _fileno(f);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

bool lockFileNoWait(FILE* f, bool exclusive) {
  HANDLE h = handleOf(f);
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};  // offset 0
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return LockFileEx(h, flags, 0, MAXDWORD, MAXDWORD, &at) != 0;
}

bool unlockFile(FILE* f) {
  HANDLE h = handleOf(f);
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  return UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &at) != 0;
}

bool flushFileToDisk(FILE* f) {
  if (!f) return false;
  const bool flushed = std::fflush(f) == 0;
  HANDLE h = handleOf(f);
  const bool synced = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
  return flushed && synced;
}

}  // namespace platform
}  // namespace ZUtils
