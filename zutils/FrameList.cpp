#include "zutils/FrameList.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace ZUtils {

namespace {

// Reads an optionally signed decimal int at *p and advances past it.
bool readNumber(const char*& p, long long& out) {
  const char* start = p;
  if (*p == '-') ++p;
  if (*p < '0' || *p > '9') return false;
  long long v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    if (v > 1LL + INT_MAX) return false;  // stays far from overflow; range checked below
    ++p;
  }
  out = *start == '-' ? -v : v;
  return out >= INT_MIN && out <= INT_MAX;
}

bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

}  // namespace

bool parseFrameList(const char* text, std::vector<int>& frames, std::string* error) {
  if (!text || !*text) return fail(error, "empty frame list");
  std::vector<int> out;
  const char* p = text;
  for (;;) {
    const char* item = p;
    long long first = 0, last = 0, step = 1;
    if (!readNumber(p, first)) return fail(error, "frame number expected at \"" + std::string(item) + "\"");
    last = first;
    if (*p == '-') {
      ++p;
      if (!readNumber(p, last)) return fail(error, "range end expected at \"" + std::string(item) + "\"");
      if (*p == 'x') {
        ++p;
        if (!readNumber(p, step) || step < 1) return fail(error, "step of 1 or more expected at \"" + std::string(item) + "\"");
      }
    }
    if (last < first) return fail(error, "range runs backwards at \"" + std::string(item) + "\"");
    const long long count = (last - first) / step + 1;
    if (count > kMaxFrameListLength - static_cast<long long>(out.size()))
      return fail(error, "more than " + std::to_string(kMaxFrameListLength) + " frames");
    for (long long f = first; f <= last; f += step) out.push_back(static_cast<int>(f));
    if (*p == '\0') break;
    if (*p != ',') return fail(error, "unexpected character at \"" + std::string(p) + "\"");
    ++p;
  }
  frames.insert(frames.end(), out.begin(), out.end());
  return true;
}

}  // namespace ZUtils
