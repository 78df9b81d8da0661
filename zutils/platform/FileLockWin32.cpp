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

// LockFileEx takes an exclusive lock through a handle opened for reading only, and a shared
// one through a write-only handle; the interface promises the POSIX rule (exclusive needs
// write access, shared needs read access), so the handle's granted access is asked for.
// NtQueryObject is looked up in ntdll at run time; where it is missing the check is left
// to LockFileEx.
bool handleGrants(HANDLE h, ACCESS_MASK wanted) {
  struct BasicInformation {  // PUBLIC_OBJECT_BASIC_INFORMATION
    ULONG attributes;
    ACCESS_MASK grantedAccess;
    ULONG handleCount;
    ULONG pointerCount;
    ULONG reserved[10];
  };
  typedef LONG(WINAPI * QueryObject)(HANDLE, int, void*, ULONG, ULONG*);
  static const QueryObject query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  if (!query) return true;
  BasicInformation info{};
  if (query(h, 0 /* ObjectBasicInformation */, &info, sizeof info, nullptr) < 0) return true;
  return (info.grantedAccess & wanted) != 0;
}

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
  if (!handleGrants(h, exclusive ? (FILE_WRITE_DATA | FILE_APPEND_DATA) : FILE_READ_DATA)) return false;
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
