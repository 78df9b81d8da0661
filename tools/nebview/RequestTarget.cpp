#include "tools/nebview/RequestTarget.h"

#include <cstdint>
#include <initializer_list>
#include <map>

namespace NebView {

namespace {

bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The bytes a path segment of nebview's URLs may hold.
bool isSegmentByte(char c) { return isLower(c) || isDigit(c) || c == '-' || c == '_' || c == '.'; }

bool fail(int code, const std::string& why, int& status, std::string& reason) {
  status = code;
  reason = why;
  return false;
}

// Decimal digits only, 1..10 of them, value <= high.
bool readNumber(const std::string& text, int64_t high, int64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  if (v > high) return false;
  out = v;
  return true;
}

bool splitSegments(const std::string& path, std::vector<std::string>& segments) {
  // path starts with '/'; every segment after it is non-empty and not "." or "..".
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string s = path.substr(start, end - start);
    if (s.empty() || s == "." || s == "..") return false;
    for (char c : s)
      if (!isSegmentByte(c)) return false;
    segments.push_back(s);
    start = end + 1;
  }
  return true;
}

// key=value pairs separated by '&': keys [a-z]+, values [a-z0-9,]+, each key once.
bool splitQuery(const std::string& query, std::map<std::string, std::string>& pairs) {
  if (query.empty()) return true;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == pair.size()) return false;
    const std::string key = pair.substr(0, eq), value = pair.substr(eq + 1);
    for (char c : key)
      if (!isLower(c)) return false;
    for (char c : value)
      if (!isLower(c) && !isDigit(c) && c != ',') return false;
    if (!pairs.emplace(key, value).second) return false;
    start = end + 1;
  }
  return true;
}

bool readChannels(const std::string& text, std::vector<int>& channels) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    int64_t c = 0;
    if (!readNumber(text.substr(start, end - start), 31, c)) return false;
    for (int have : channels)
      if (have == c) return false;
    channels.push_back(static_cast<int>(c));
    if (channels.size() > static_cast<size_t>(RequestLimits::kVolumeChannels)) return false;
    start = end + 1;
  }
  return !channels.empty();
}

// Reads the query of a route: every key must be in `known`, every key of `required` given.
class Query {
 public:
  explicit Query(const std::map<std::string, std::string>& pairs) : pairs_(pairs) {}

  bool onlyKeys(std::initializer_list<const char*> known) const {
    for (const auto& p : pairs_) {
      bool found = false;
      for (const char* k : known) found = found || p.first == k;
      if (!found) return false;
    }
    return true;
  }
  const std::string* find(const char* key) const {
    const auto it = pairs_.find(key);
    return it == pairs_.end() ? nullptr : &it->second;
  }
  bool number(const char* key, int64_t high, int64_t& out, bool required) const {
    const std::string* v = find(key);
    if (!v) return !required;
    return readNumber(*v, high, out);
  }

 private:
  const std::map<std::string, std::string>& pairs_;
};

bool parseFrameRoute(const std::string& what, const Query& q, Request& out) {
  if (what == "facts" || what == "file") {
    out.route = what == "facts" ? Route::Facts : Route::File;
    return q.onlyKeys({});
  }
  if (what == "volume") {
    out.route = Route::Volume;
    if (!q.onlyKeys({"channels", "cells", "bits"})) return false;
    const std::string* channels = q.find("channels");
    if (!channels || !readChannels(*channels, out.channels)) return false;
    if (!q.number("cells", RequestLimits::kCells, out.cells, true) || out.cells < 1) return false;
    int64_t bits = 8;
    if (!q.number("bits", 16, bits, false) || (bits != 8 && bits != 16)) return false;
    out.bits = static_cast<int>(bits);
    return true;
  }
  if (what == "slice") {
    out.route = Route::Slice;
    if (!q.onlyKeys({"channel", "axis", "index"})) return false;
    int64_t channel = 0;
    if (!q.number("channel", 31, channel, true)) return false;
    out.channel = static_cast<int>(channel);
    const std::string* axis = q.find("axis");
    if (!axis || axis->size() != 1 || (*axis)[0] < 'x' || (*axis)[0] > 'z') return false;
    out.axis = (*axis)[0] - 'x';
    return q.number("index", INT32_MAX, out.index, true);
  }
  if (what == "particles") {
    out.route = Route::Particles;
    if (!q.onlyKeys({"group", "max"})) return false;
    if (!q.number("group", INT32_MAX, out.group, true)) return false;
    return q.number("max", RequestLimits::kParticles, out.maxParticles, false);
  }
  return false;
}

}  // namespace

bool parseRequestTarget(const std::string& target, Request& out, int& status, std::string& reason) {
  out = Request();
  if (target.empty() || target[0] != '/') return fail(400, "the target is not a path", status, reason);
  if (target.size() > RequestLimits::kTargetBytes) return fail(414, "the target is too long", status, reason);
  const size_t mark = target.find('?');
  const std::string path = target.substr(0, mark);
  const std::string query = mark == std::string::npos ? std::string() : target.substr(mark + 1);
  if (mark != std::string::npos && query.empty()) return fail(400, "an empty query", status, reason);

  std::vector<std::string> segments;
  if (path != "/" && !splitSegments(path, segments))
    return fail(400, "a path with a byte, segment or escape nebview never uses", status, reason);
  std::map<std::string, std::string> pairs;
  if (!splitQuery(query, pairs)) return fail(400, "a malformed query", status, reason);
  const Query q(pairs);
  const auto badQuery = [&]() { return fail(400, "a query the route does not take", status, reason); };

  if (segments.empty()) {
    out.route = Route::Page;
    return q.onlyKeys({}) ? true : badQuery();
  }
  if (segments[0] == "app" && segments.size() == 2) {
    const std::string& name = segments[1];
    const size_t dot = name.find('.');
    bool ok = dot != std::string::npos && dot > 0 && dot + 1 < name.size() && name.find('.', dot + 1) == std::string::npos;
    for (size_t i = 0; ok && i < name.size(); ++i) {
      const char c = name[i];
      ok = i == dot || (i < dot ? isLower(c) || isDigit(c) || c == '-' || c == '_' : isLower(c));
    }
    if (!ok) return fail(404, "no such file of the page", status, reason);
    out.route = Route::Asset;
    out.asset = name;
    return q.onlyKeys({}) ? true : badQuery();
  }
  if (segments[0] == "api" && segments.size() == 2 && segments[1] == "sequence") {
    out.route = Route::Sequence;
    return q.onlyKeys({}) ? true : badQuery();
  }
  if (segments[0] == "api" && segments.size() == 2 && segments[1] == "stats") {
    out.route = Route::Stats;
    if (!q.onlyKeys({"from"}) || !q.number("from", RequestLimits::kFrameIndex, out.from, false)) return badQuery();
    return true;
  }
  if (segments[0] == "api" && segments.size() == 4 && segments[1] == "frame") {
    if (!readNumber(segments[2], RequestLimits::kFrameIndex, out.frame))
      return fail(404, "no such frame index", status, reason);
    const std::string& what = segments[3];
    if (what != "facts" && what != "file" && what != "volume" && what != "slice" && what != "particles")
      return fail(404, "no such route", status, reason);
    return parseFrameRoute(what, q, out) ? true : badQuery();
  }
  return fail(404, "no such route", status, reason);
}

namespace {

std::string lowered(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool isLoopbackName(const std::string& name) {
  if (name == "localhost" || name == "::1" || name == "[::1]") return true;
  // 127.a.b.c with decimal parts
  if (name.compare(0, 4, "127.") != 0) return false;
  int dots = 0;
  size_t digits = 0;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] == '.') {
      if (digits == 0) return false;
      ++dots;
      digits = 0;
    } else if (isDigit(name[i]) && digits < 3) {
      ++digits;
    } else {
      return false;
    }
  }
  return dots == 2 && digits > 0;
}

}  // namespace

bool hostAllowed(const std::string& host, const std::string& boundHost, int port) {
  if (!isLoopbackName(lowered(boundHost))) return true;
  std::string name = lowered(host);
  // Strip ":port" (after the closing bracket of an IPv6 literal).
  const size_t colon = name.rfind(':');
  const size_t bracket = name.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    int64_t given = 0;
    if (!readNumber(name.substr(colon + 1), 65535, given) || given != port) return false;
    name.resize(colon);
  }
  return isLoopbackName(name);
}

}  // namespace NebView
