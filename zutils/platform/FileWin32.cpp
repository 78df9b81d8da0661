#include "zutils/platform/File.h"
#include "zutils/platform/Kernel32.h"
#include "zutils/platform/WideText.h"

#include <ctime>

namespace ZUtils {
namespace platform {

FILE* openFile(const char* utf8Name, const char* mode) {
  if (!utf8Name || !mode || !*utf8Name) return nullptr;
  return _wfopen(toWide(utf8Name).c_str(), toWide(mode).c_str());
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
