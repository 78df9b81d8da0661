// Platform layer (Windows only): UTF-8 names as the wide strings the W functions take.
#pragma once

#include <string>

#include "zutils/Utf16.h"

namespace ZUtils {
namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// Lossless (see Utf16.h): a byte string that is not valid UTF-8 still names the same file
// on the way back. Empty for null.
inline std::wstring toWide(const char* utf8) {
  if (!utf8) return std::wstring();
  const int n = utf8ToWide(utf8, nullptr, 0);
  std::u16string wide(static_cast<size_t>(n) + 1, u'\0');
  utf8ToWide(utf8, &wide[0], n + 1);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), static_cast<size_t>(n));
}

inline std::string toUtf8(const wchar_t* wide) {
  if (!wide) return std::string();
  const char16_t* w = reinterpret_cast<const char16_t*>(wide);
  const int n = wideToUtf8(w, nullptr, 0);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  wideToUtf8(w, &out[0], n + 1);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace platform
}  // namespace ZUtils
