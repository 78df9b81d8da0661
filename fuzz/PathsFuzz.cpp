// Frame patterns and path handling: pattern expansion and detection, frame numbers in
// file names, extensions, ';'-separated path lists and the lossless UTF-8 / UTF-16
// conversion (any byte string must survive the round trip), and the thread-count variables'
// integer reading and the count a program may set over them, and the listing wildcard
// ('*' and '?' over a directory's entries), checked against a plain matcher.
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "zutils/DefaultThreadCount.h"
#include "zutils/FileList.h"
#include "zutils/FramePattern.h"
#include "zutils/PathList.h"
#include "zutils/Utf16.h"

namespace {

// The wildcard as specified, by dynamic programming over (pattern, name) prefixes: '*' any
// run of bytes, '?' one byte, everything else itself.
bool referenceMatch(const std::string& pattern, const std::string& name) {
  std::vector<std::vector<char>> m(pattern.size() + 1, std::vector<char>(name.size() + 1, 0));
  m[0][0] = 1;
  for (size_t i = 1; i <= pattern.size(); ++i) {
    const char p = pattern[i - 1];
    m[i][0] = p == '*' && m[i - 1][0];
    for (size_t j = 1; j <= name.size(); ++j) {
      if (p == '*') {
        m[i][j] = m[i - 1][j] || m[i][j - 1];
      } else {
        m[i][j] = (p == '?' || p == name[j - 1]) && m[i - 1][j - 1];
      }
    }
  }
  return m[pattern.size()][name.size()] != 0;
}

// listFiles on a directory holding exactly one file lists it exactly when the reference
// matcher says the name part matches (separators removed: they would name another
// directory).
void checkListing(const std::string& text) {
  static const std::string name = "take[2]_0001.neb";
  const char* path = nebfuzz::writeTempFile(name.c_str(), nullptr, 0);
  if (!path) return;
  const std::string file(path);
  const std::string dir = file.substr(0, file.size() - name.size());
  std::string wildcard;
  for (char c : text.substr(0, 48)) {
    if (c != '/' && c != '\\') wildcard += c;
  }
  ZUtils::FileNameList list;
  const bool found = ZUtils::listFiles((dir + wildcard).c_str(), list);
  const bool expected = !wildcard.empty() && referenceMatch(wildcard, name);
  if (found != expected || list.count() != (expected ? 1 : 0)) __builtin_trap();
  if (found && std::string(list.item(0)) != file) __builtin_trap();
}

}  // namespace

NEB_FUZZ_TARGET(paths) {
  nebfuzz::Input in{data, size};
  const int frame = static_cast<int>(in.take(4));
  const int width = static_cast<int>(in.take(1)) - 8;
  const std::string text(reinterpret_cast<const char*>(in.data), in.size);
  const char* s = text.c_str();

  ZUtils::expandFramePattern(s, frame, s);
  ZUtils::expandFramePattern(s, ZUtils::kNoFrameNumber, s);
  ZUtils::expandFramePattern(s, ZUtils::kEmptyFrameNumber, nullptr);
  ZUtils::hasFramePattern(s);
  char number[16];
  ZUtils::formatFrameNumber(frame, number, width, (frame & 1) != 0);
  int start = -1, end = -1;
  if (ZUtils::findFrameNumberDigits(s, &start, &end)) {
    if (start < 0 || end < start || static_cast<size_t>(end) > text.size()) __builtin_trap();
  }
  ZUtils::frameNumberFromFileName(s);
  ZUtils::threadAffinityEnabled(s);
  if (ZUtils::computeDefaultThreadCount(s, s) < 1) __builtin_trap();
  // A count a program sets (neb2vdb's thread budget) is in force as given while it is
  // positive; zero or less returns to the environment's count, which is at least 1.
  const int fixed = ZUtils::leadingInteger(s);
  ZUtils::setDefaultThreadCount(fixed);
  const int inForce = ZUtils::defaultThreadCount();
  if (fixed > 0 ? inForce != fixed : inForce < 1) __builtin_trap();
  ZUtils::setDefaultThreadCount(0);
  ZUtils::fileExtensionLower(s);

  ZUtils::PathTokenizer tokens;
  for (const char* p = ZUtils::firstPath(tokens, s); p; p = ZUtils::nextPath(tokens)) {
  }

  const int units = ZUtils::utf8ToWide(s, nullptr, 0);
  if (units < 0) __builtin_trap();
  std::vector<char16_t> wide(static_cast<size_t>(units) + 1);
  ZUtils::utf8ToWide(s, wide.data(), units + 1);
  const int bytes = ZUtils::wideToUtf8(wide.data(), nullptr, 0);
  if (bytes < 0) __builtin_trap();
  std::vector<char> back(static_cast<size_t>(bytes) + 1);
  ZUtils::wideToUtf8(wide.data(), back.data(), bytes + 1);
  if (std::string(back.data()) != std::string(s)) __builtin_trap();  // lossless round trip
  // A target too small: output cut, always terminated.
  char16_t small[3];
  ZUtils::utf8ToWide(s, small, 3);
  char tiny[3];
  ZUtils::wideToUtf8(wide.data(), tiny, 3);

  checkListing(text.c_str());  // up to the first NUL, as a C string pattern
  return 0;
}
