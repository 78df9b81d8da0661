#include "zutils/platform/File.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace ZUtils {
namespace platform {

namespace {

int errnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EINVAL;
  }
}

}  // namespace

// As _wfopen, but the file is shared for deletion too (_wfopen shares reading and
// writing only): as on POSIX, an open file can be renamed over or deleted by name, and
// the name goes at once while the data stay until the last handle closes. AtomicFile's
// interruption handler removes temporaries still being written so.
FILE* openFile(const char* utf8Name, const char* mode) {
  if (!utf8Name || !mode || !*utf8Name) return nullptr;
  DWORD access = 0, disposition = 0;
  int flags = std::strchr(mode, 'b') ? _O_BINARY : _O_TEXT;
  const bool update = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r':
      access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  const HANDLE h = CreateFileW(toWide(utf8Name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = errnoOf(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd == -1) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, mode);
  if (!f) _close(fd);
  return f;
}

bool modificationTime(const char* utf8Name, int64_t* seconds) {
  if (!utf8Name || !*utf8Name || !seconds) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toWide(utf8Name).c_str(), GetFileExInfoStandard, &data)) return false;
  // FILETIME counts 100 ns steps from 1601-01-01 UTC; 11644473600 s lie between that and 1970.
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  *seconds = static_cast<int64_t>(ticks / 10000000u) - INT64_C(11644473600);
  return true;
}

bool fileSize(const char* utf8Name, int64_t* bytes) {
  if (!utf8Name || !*utf8Name || !bytes) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toWide(utf8Name).c_str(), GetFileExInfoStandard, &data)) return false;
  *bytes = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return true;
}

bool fileStamp(const char* utf8Name, FileStamp* stamp) {
  if (!utf8Name || !*utf8Name || !stamp) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toWide(utf8Name).c_str(), GetFileExInfoStandard, &data)) return false;
  // 100 ns steps from 1601-01-01 UTC; 116444736000000000 of them lie between that and 1970.
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                             data.ftLastWriteTime.dwLowDateTime);
  int64_t ns = 0;
  if (ticks < 0 || __builtin_mul_overflow(ticks - INT64_C(116444736000000000), INT64_C(100), &ns)) return false;
  stamp->bytes = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  stamp->modifiedNs = ns;
  return true;
}

bool absolutePath(const char* utf8Path, std::string* absolute) {
  if (!utf8Path || !absolute) return false;
  const std::wstring wide = toWide(utf8Path);
  // The first call gives the length with the terminator, the second the path.
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
  if (written == 0 || written >= length) return false;
  full.resize(written);
  *absolute = toUtf8(full.c_str());
  return true;
}

bool seekFile(FILE* f, int64_t offset, int origin) { return f && _fseeki64(f, offset, origin) == 0; }

int64_t tellFile(FILE* f) {
  if (!f) return -1;
  const int64_t at = _ftelli64(f);
  return at < 0 ? -1 : at;
}

bool listDirectory(const char* utf8Dir, std::vector<std::string>* names) {
  if (!utf8Dir || !names) return false;
  std::wstring pattern = toWide(*utf8Dir ? utf8Dir : ".");
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  // Basic information only: no 8.3 short names, which a wildcard would otherwise match too.
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) {
    // An existing empty directory has at least "." and ".."; a drive root may have none.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  try {
    do {
      names->push_back(toUtf8(found.cFileName));
    } while (FindNextFileW(h, &found));
  } catch (...) {
    FindClose(h);
    throw;
  }
  FindClose(h);
  return true;
}

bool localTime(int64_t seconds, struct tm* out) {
  if (!out) return false;
  const __time64_t t = static_cast<__time64_t>(seconds);
  return _localtime64_s(out, &t) == 0;
}

}  // namespace platform
}  // namespace ZUtils
