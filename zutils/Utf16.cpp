#include "zutils/Utf16.h"

#include <cstdint>

namespace ZUtils {

namespace {

// Largest value of a UTF-8 sequence of 1..6 bytes. A sequence with k continuation bytes
// is overlong unless its value exceeds kLimit[k - 1].
const uint32_t kLimit[6] = {0x7F, 0x7FF, 0xFFFF, 0x1FFFFF, 0x3FFFFFF, 0x7FFFFFFF};

// An undecodable byte b travels as U+100000 + b, i.e. the pair 0xDBC0, 0xDC00 + b.
constexpr uint32_t kEscapeBase = 0x100000;
constexpr char16_t kEscapeHigh = 0xDBC0;

bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Writes units while they fit, always keeping one element for the terminator. Once a
// character did not fit nothing more is written (a later, shorter one must not land
// after the gap), but everything is still counted.
template <class Unit>
struct Sink {
  Unit* target;
  int64_t capacity;
  int64_t written = 0;
  int64_t count = 0;
  bool stopped;

  Sink(Unit* t, int c) : target(c > 0 ? t : nullptr), capacity(c), stopped(target == nullptr) {}

  void put(const Unit* units, int n) {
    if (!stopped && written + n + 1 <= capacity) {
      for (int i = 0; i < n; ++i) target[written + i] = units[i];
      written += n;
    } else {
      stopped = true;
    }
    count += n;
  }
  int finish() {
    if (target) target[written] = 0;
    return count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
  }
};

}  // namespace

int utf8ToWide(const char* source, char16_t* target, int capacity) {
  Sink<char16_t> out(target, capacity);
  if (!source) return out.finish();

  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  // Last unit produced, to stop a decoded high surrogate from pairing with a decoded low
  // surrogate: UTF-16 would merge the two into one supplementary character (or into an
  // escaped byte) and the bytes would not come back unchanged.
  uint32_t lastUnit = 0;

  auto emit = [&](const char16_t* units, int n) {
    out.put(units, n);
    lastUnit = units[n - 1];
  };
  auto escape = [&](const unsigned char* from, const unsigned char* to) {
    for (; from < to; ++from) {
      char16_t pair[2] = {kEscapeHigh, static_cast<char16_t>(0xDC00 + *from)};
      emit(pair, 2);
    }
  };

  while (*s) {
    const unsigned char lead = *s;
    if (lead < 0x80) {
      char16_t unit = lead;
      emit(&unit, 1);
      ++s;
      continue;
    }
    int k = 0;
    while (k < 7 && (lead & (0x40 >> k))) ++k;
    if (k == 0) {  // a continuation byte in lead position
      escape(s, s + 1);
      ++s;
      continue;
    }
    uint64_t value = (k <= 5) ? (lead & ((1u << (6 - k)) - 1)) : 0;
    const unsigned char* p = s + 1;
    int got = 0;
    while (got < k && (*p & 0xC0) == 0x80) {
      value = (value << 6) | (*p & 0x3F);
      ++p;
      ++got;
    }
    bool valid = got == k && k < 7 && value > kLimit[k - 1] && value <= 0x10FFFF &&
                 !(value >= kEscapeBase && value <= kEscapeBase + 0xFF) &&
                 !(isLowSurrogate(static_cast<uint32_t>(value)) && isHighSurrogate(lastUnit));
    if (!valid) {
      // Lead and the continuation bytes taken with it are escaped; a byte that broke
      // the sequence is not consumed and starts the next one.
      escape(s, p);
      s = p;
      continue;
    }
    if (value <= 0xFFFF) {
      char16_t unit = static_cast<char16_t>(value);
      emit(&unit, 1);
    } else {
      uint32_t v = static_cast<uint32_t>(value) - 0x10000;
      char16_t pair[2] = {static_cast<char16_t>(0xD800 + (v >> 10)), static_cast<char16_t>(0xDC00 + (v & 0x3FF))};
      emit(pair, 2);
    }
    s = p;
  }
  return out.finish();
}

int wideToUtf8(const char16_t* source, char* target, int capacity) {
  Sink<char> out(target, capacity);
  if (!source) return out.finish();

  auto emit = [&](const char* bytes, int n) { out.put(bytes, n); };

  const char16_t* s = source;
  while (*s) {
    uint32_t cp = *s++;
    if (isHighSurrogate(cp) && isLowSurrogate(*s)) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (*s++ - 0xDC00);
    }
    // U+100000 itself would restore a zero byte and end the name early, so it is
    // written out as an ordinary character; escapes never produce it.
    if (cp > kEscapeBase && cp <= kEscapeBase + 0xFF) {
      char byte = static_cast<char>(cp - kEscapeBase);
      emit(&byte, 1);
      continue;
    }
    char bytes[6];
    int n;
    if (cp <= kLimit[0]) {
      bytes[0] = static_cast<char>(cp);
      n = 1;
    } else {
      n = 2;
      while (n < 6 && cp > kLimit[n - 1]) ++n;
      // Continuation bytes from the back, then the lead with n leading one-bits.
      for (int i = n - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
      }
      bytes[0] = static_cast<char>((0xFF00u >> n) | cp);
    }
    emit(bytes, n);
  }
  return out.finish();
}

}  // namespace ZUtils
