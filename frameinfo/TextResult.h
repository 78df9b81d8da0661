// Text results of the C interface, which follow one rule (nebloader_c.h): a call with no
// buffer gives the length needed, a second call fills length + 1 bytes. Header-only: the
// calls differ only in their leading arguments.
#pragma once

#include <string>

#include "nebloader_c.h"

namespace NebFrameInfo {

// The text `call(buffer, size, length)` gives, "" when the library refuses it.
template <class Call>
std::string textResult(Call call) {
  long long length = 0;
  call(nullptr, 0, &length);
  if (length < 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  if (call(&text[0], length + 1, nullptr) != NEB_OK) return std::string();
  text.resize(static_cast<size_t>(length));
  return text;
}

// A particle group's name.
inline std::string groupName(neb_group* group) {
  return textResult([group](char* b, long long n, long long* length) { return neb_group_name(group, b, n, length); });
}

}  // namespace NebFrameInfo
