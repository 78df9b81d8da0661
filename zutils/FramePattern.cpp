#include "zutils/FramePattern.h"

#include <cstdint>
#include <cstring>

namespace ZUtils {

namespace {

constexpr int kMaxWidth = 12;
constexpr size_t kMaxTextLength = 15;

enum class TokenKind { Signed, Unsigned };

struct Token {
  size_t start;  // first character of the token
  size_t end;    // just past the token
  TokenKind kind;
  int width;
  bool zeroPad;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Optional '0' flag and decimal width; the width saturates at kMaxWidth, so any run of
// digits is read without overflow.
size_t readFlagAndWidth(const char* s, size_t p, bool* zeroPad, int* width) {
  *zeroPad = false;
  *width = 0;
  if (s[p] == '0') {
    *zeroPad = true;
    ++p;
  }
  while (isDigit(s[p])) {
    *width = *width * 10 + (s[p] - '0');
    if (*width > kMaxWidth) *width = kMaxWidth;
    ++p;
  }
  return p;
}

// Finds the next token at or after *pos in s[0, len). On success fills `token` and moves
// *pos past it. The string is zero-terminated at len, so looking one character ahead is
// always safe while *pos < len.
bool nextToken(const char* s, size_t len, size_t* pos, Token* token) {
  size_t i = *pos;
  while (i < len) {
    const char c = s[i];
    if (c == '%') {
      if (s[i + 1] == '%') {
        i += 2;
        continue;
      }
      bool zero;
      int width;
      size_t p = readFlagAndWidth(s, i + 1, &zero, &width);
      const char letter = s[p];
      if (letter != '\0' && std::strchr("diuDIU", letter)) {
        *token = {i, p + 1, (letter == 'u' || letter == 'U') ? TokenKind::Unsigned : TokenKind::Signed, width,
                  zero};
        *pos = p + 1;
        return true;
      }
      ++i;
    } else if (c == '<') {
      if (std::strncmp(s + i + 1, "frame", 5) == 0) {
        bool zero;
        int width;
        size_t p = readFlagAndWidth(s, i + 6, &zero, &width);
        if (s[p] == '>') {
          *token = {i, p + 1, TokenKind::Signed, width, zero};
          *pos = p + 1;
          return true;
        }
        ++i;
      } else {
        // The character right after a '<' that does not open "<frame" never starts a
        // token ("<#" keeps its '#'). Patterns in use depend on this.
        i = (i + 2 < len) ? i + 2 : len;
      }
    } else if (c == '#') {
      size_t p = i;
      while (s[p] == '#') ++p;
      size_t run = p - i;
      *token = {i, p, TokenKind::Signed, run > static_cast<size_t>(kMaxWidth) ? kMaxWidth : static_cast<int>(run),
                true};
      *pos = p;
      return true;
    } else {
      ++i;
    }
  }
  *pos = len;
  return false;
}

size_t nameStart(const char* s, size_t len) {
  for (size_t i = len; i > 0; --i) {
    if (s[i - 1] == '/' || s[i - 1] == '\\') return i;
  }
  return 0;
}

// Unsigned decimal right-aligned in `width` (already clamped), into a 16-byte buffer.
void formatUnsigned(uint32_t value, char* buffer, int width, bool zeroPad) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  int field = width > n ? width : n;
  int fill = field - n;
  for (int i = 0; i < fill; ++i) buffer[i] = zeroPad ? '0' : ' ';
  for (int i = 0; i < n; ++i) buffer[fill + i] = digits[n - 1 - i];
  buffer[field] = '\0';
}

}  // namespace

void formatFrameNumber(int frame, char* buffer, int width, bool zeroPad) {
  if (!buffer) return;
  if (frame == kEmptyFrameNumber) {
    buffer[0] = '\0';
    return;
  }
  // Clamped here as well so that a 16-byte buffer always suffices: at most 12 columns,
  // or 11 for "-2147483647", plus the terminator.
  if (width < 0) width = 0;
  if (width > kMaxWidth) width = kMaxWidth;

  const bool negative = frame < 0;
  uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(frame) : static_cast<uint32_t>(frame);
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  const int used = n + (negative ? 1 : 0);
  const int field = width > used ? width : used;
  int p = 0;
  if (zeroPad) {
    // "-005": the sign leads the field, zeros fill between sign and digits.
    if (negative) buffer[p++] = '-';
    while (p < field - n) buffer[p++] = '0';
  } else {
    // "  -5": blanks lead, the sign sits directly before the digits.
    while (p < field - used) buffer[p++] = ' ';
    if (negative) buffer[p++] = '-';
  }
  for (int i = n - 1; i >= 0; --i) buffer[p++] = digits[i];
  buffer[p] = '\0';
}

std::string expandFramePattern(const char* pattern, int frame, const char* text) {
  std::string out;
  if (!pattern) return out;
  const size_t len = std::strlen(pattern);
  out.reserve(len + 16);

  size_t mark = 0;
  size_t pos = nameStart(pattern, len);
  Token token;
  while (nextToken(pattern, len, &pos, &token)) {
    out.append(pattern + mark, token.start - mark);
    if (frame == kNoFrameNumber) {
      if (text) out.append(text, strnlen(text, kMaxTextLength));
    } else if (token.kind == TokenKind::Unsigned) {
      if (frame != kEmptyFrameNumber) {
        char buffer[16];
        formatUnsigned(static_cast<uint32_t>(frame), buffer, token.width, token.zeroPad);
        out += buffer;
      }
    } else {
      char buffer[16];
      formatFrameNumber(frame, buffer, token.width, token.zeroPad);
      out += buffer;
    }
    mark = token.end;
  }
  out.append(pattern + mark, len - mark);
  return out;
}

bool hasFramePattern(const char* pattern) {
  if (!pattern) return false;
  size_t pos = 0;
  Token token;
  return nextToken(pattern, std::strlen(pattern), &pos, &token);
}

bool findFrameNumberDigits(const char* name, int* start, int* end) {
  if (!name) return false;
  const char* dot = std::strrchr(name, '.');
  if (!dot || std::strpbrk(dot, "/\\")) return false;

  const char* p = dot;
  while (p > name && !isDigit(p[-1])) {
    --p;
    if (*p == '/' || *p == '\\') return false;
  }
  if (p == name) return false;
  const char* last = p;  // just past the last digit
  while (p > name && isDigit(p[-1])) --p;
  if (p > name && p[-1] == '-') --p;

  if (start) *start = static_cast<int>(p - name);
  if (end) *end = static_cast<int>(last - name);
  return true;
}

int frameNumberFromFileName(const char* name) {
  int start, end;
  if (!findFrameNumberDigits(name, &start, &end)) return kNoFrameNumber;
  const char* p = name + start;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  // Read with saturation: a run too long for an int is no frame number rather than
  // an overflowed one.
  int64_t value = 0;
  for (; p < name + end; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) return kNoFrameNumber;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return kNoFrameNumber;
  return static_cast<int>(value);
}

std::string fileExtensionLower(const char* name) {
  std::string out;
  if (!name) return out;
  const char* dot = std::strrchr(name, '.');
  if (!dot) return out;
  out = dot + 1;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace ZUtils
