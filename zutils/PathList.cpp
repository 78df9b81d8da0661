#include "zutils/PathList.h"

#include <cstring>

namespace ZUtils {

namespace {

constexpr int kMaxSourceLength = 51200;

const char* copyToken(PathTokenizer& t, int from, int to) {
  int n = to - from;
  if (n > static_cast<int>(sizeof t.token) - 1) n = static_cast<int>(sizeof t.token) - 1;
  std::memcpy(t.token, t.source + from, static_cast<size_t>(n));
  t.token[n] = '\0';
  return t.token;
}

}  // namespace

const char* firstPath(PathTokenizer& t, const char* source) {
  t.source = source;
  t.position = 0;
  t.length = source ? static_cast<int>(strnlen(source, kMaxSourceLength)) : 0;
  t.token[0] = '\0';
  return nextPath(t);
}

const char* nextPath(PathTokenizer& t) {
  if (!t.source) return nullptr;
  while (t.position < t.length) {
    const int from = t.position;
    int to = from;
    while (to < t.length && t.source[to] != ';') ++to;
    t.position = to < t.length ? to + 1 : t.length;
    if (to > from) return copyToken(t, from, to);
  }
  return nullptr;
}

}  // namespace ZUtils
