#include "tools/neb2vdb/FrameList.h"

#include <climits>

namespace Neb2Vdb {

namespace {

// Reads an optionally signed decimal int at text[pos]; advances pos.
bool readNumber(const std::string& text, size_t& pos, int64_t& value) {
  size_t p = pos;
  bool negative = false;
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) negative = text[p++] == '-';
  if (p >= text.size() || text[p] < '0' || text[p] > '9') return false;
  int64_t v = 0;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    v = v * 10 + (text[p] - '0');
    if (v > int64_t(INT_MAX) + 1) return false;
  }
  v = negative ? -v : v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = v;
  pos = p;
  return true;
}

}  // namespace

bool FrameList::parse(const std::string& text, std::string& error) {
  ranges_.clear();
  count_ = 0;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t pos = 0;
    int64_t first = 0, last = 0, step = 1;
    bool ok = readNumber(item, pos, first);
    last = first;
    if (ok && pos < item.size() && item[pos] == '-') {
      ++pos;
      ok = readNumber(item, pos, last);
      if (ok && pos < item.size() && item[pos] == 'x') {
        ++pos;
        ok = readNumber(item, pos, step);
      }
    }
    if (!ok || pos != item.size()) {
      error = "invalid frame range '" + item + "' (expected A-B, A-BxSTEP or N)";
      return false;
    }
    if (last < first || step < 1) {
      error = "invalid frame range '" + item + "' (the end precedes the start or the step is below 1)";
      return false;
    }
    const int64_t n = (last - first) / step + 1;
    ranges_.push_back({first, step, n, count_});
    count_ += n;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

int FrameList::frameAt(int64_t k) const {
  size_t lo = 0, hi = ranges_.size();
  while (hi - lo > 1) {  // last range with before <= k
    const size_t mid = (lo + hi) / 2;
    if (ranges_[mid].before <= k) lo = mid;
    else hi = mid;
  }
  const Range& r = ranges_[lo];
  return int(r.first + (k - r.before) * r.step);
}

}  // namespace Neb2Vdb
