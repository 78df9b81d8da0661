#include "zutils/FrameList.h"

#include <climits>
#include <cstring>

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

// `item`: where the refused item starts; `at`: where the reason points.
bool fail(FrameListError* error, FrameListError::Kind kind, const char* item, const char* at, const char* reason) {
  if (error) {
    error->kind = kind;
    error->item.assign(item, std::strcspn(item, ","));
    error->message = std::string(reason) + " at \"" + at + "\"";
  }
  return false;
}

}  // namespace

bool FrameList::parse(const char* text, FrameListError* error) {
  if (!text || !*text) {
    if (error) *error = FrameListError{FrameListError::kSyntax, "", "empty frame list"};
    return false;
  }
  std::vector<Range> ranges;
  int64_t total = 0;
  const char* p = text;
  for (;;) {
    const char* item = p;
    long long first = 0, last = 0, step = 1;
    if (!readNumber(p, first)) return fail(error, FrameListError::kSyntax, item, item, "frame number expected");
    last = first;
    if (*p == '-') {
      ++p;
      if (!readNumber(p, last)) return fail(error, FrameListError::kSyntax, item, item, "range end expected");
      if (*p == 'x') {
        ++p;
        const char* reason = "step of 1 or more expected";
        if (!readNumber(p, step)) return fail(error, FrameListError::kSyntax, item, item, reason);
        if (step < 1) return fail(error, FrameListError::kStep, item, item, reason);
      }
    }
    if (last < first) return fail(error, FrameListError::kBackwards, item, item, "range runs backwards");
    if (*p != '\0' && *p != ',') return fail(error, FrameListError::kSyntax, item, p, "unexpected character");
    const int64_t n = (last - first) / step + 1;
    ranges.push_back({first, step, n, total});
    total += n;  // at most 2^32 per item: no overflow for any list that fits in memory
    if (*p == '\0') break;
    ++p;
  }
  ranges_.swap(ranges);
  count_ = total;
  return true;
}

int FrameList::frameAt(int64_t k) const {
  size_t lo = 0, hi = ranges_.size();
  while (hi - lo > 1) {  // the last range with before <= k
    const size_t mid = (lo + hi) / 2;
    if (ranges_[mid].before <= k) lo = mid;
    else hi = mid;
  }
  const Range& r = ranges_[lo];
  return static_cast<int>(r.first + (k - r.before) * r.step);
}

bool parseFrameList(const char* text, std::vector<int>& frames, std::string* error) {
  FrameList list;
  FrameListError why;
  if (!list.parse(text, &why)) {
    if (error) *error = why.message;
    return false;
  }
  if (list.count() > kMaxFrameListLength) {
    if (error) *error = "more than " + std::to_string(kMaxFrameListLength) + " frames";
    return false;
  }
  frames.reserve(frames.size() + static_cast<size_t>(list.count()));
  for (int64_t k = 0; k < list.count(); ++k) frames.push_back(list.frameAt(k));
  return true;
}

}  // namespace ZUtils
