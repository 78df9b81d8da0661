#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "zutils/Utf16.h"

namespace {

std::u16string toWide(const std::string& bytes) {
  const int n = ZUtils::utf8ToWide(bytes.c_str(), nullptr, 0);
  std::u16string out(static_cast<size_t>(n) + 1, u'\xFFFF');
  EXPECT_EQ(ZUtils::utf8ToWide(bytes.c_str(), &out[0], n + 1), n);
  EXPECT_EQ(out[n], 0);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string toUtf8(const std::u16string& wide) {
  const int n = ZUtils::wideToUtf8(wide.c_str(), nullptr, 0);
  std::string out(static_cast<size_t>(n) + 1, '\x7F');
  EXPECT_EQ(ZUtils::wideToUtf8(wide.c_str(), &out[0], n + 1), n);
  EXPECT_EQ(out[n], 0);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string units(std::initializer_list<char16_t> u) { return std::u16string(u); }

// Random non-empty-terminated byte strings biased towards UTF-8 structure: lead bytes,
// continuation bytes, surrogate encodings (ED A0..BF xx) and plain ASCII.
std::string randomBytes(std::mt19937& rng) {
  static const unsigned char kInteresting[] = {0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC3, 0xDF, 0xE0,
                                               0xE2, 0xED, 0xA0, 0xAF, 0xB0, 0xEF, 0xF0, 0xF4, 0x8F,
                                               0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> pick(0, 3);
  std::uniform_int_distribution<int> anyByte(1, 255);
  std::uniform_int_distribution<int> interesting(0, sizeof kInteresting - 1);
  std::uniform_int_distribution<int> cont(0x80, 0xBF);
  std::string s;
  const int n = length(rng);
  for (int i = 0; i < n; ++i) {
    switch (pick(rng)) {
      case 0: s += static_cast<char>(anyByte(rng)); break;
      case 1: s += static_cast<char>(kInteresting[interesting(rng)]); break;
      case 2: s += static_cast<char>(cont(rng)); break;
      default:  // an encoded surrogate, so adjacent high/low pairs occur often
        s += '\xED';
        s += static_cast<char>(cont(rng) | 0x20);
        s += static_cast<char>(cont(rng));
        break;
    }
  }
  return s;
}

}  // namespace

TEST(Utf8ToWide, DocumentedExamples) {
  EXPECT_EQ(toWide("\x41\xC3\xA9"), units({0x0041, 0x00E9}));
  EXPECT_EQ(toWide("\xE9"), units({0xDBC0, 0xDCE9}));
  EXPECT_EQ(toWide("\xC0\xAF"), units({0xDBC0, 0xDCC0, 0xDBC0, 0xDCAF}));  // overlong
  EXPECT_EQ(toWide("\xE2\x41"), units({0xDBC0, 0xDCE2, 0x0041}));        // 0x41 not consumed
  EXPECT_EQ(toWide(""), u"");
}

TEST(Utf8ToWide, ValidSequencesOfEveryLength) {
  EXPECT_EQ(toWide("\xE2\x82\xAC"), units({0x20AC}));
  EXPECT_EQ(toWide("\xF0\x9F\x98\x80"), units({0xD83D, 0xDE00}));
  EXPECT_EQ(toWide("\xF4\x8F\xBF\xBF"), units({0xDBFF, 0xDFFF}));  // U+10FFFF
  EXPECT_EQ(toWide("\xED\xA0\x80"), units({0xD800}));              // lone surrogate kept
}

TEST(Utf8ToWide, InvalidSequencesAreEscapedBytewise) {
  // Above U+10FFFF, 5/6-byte forms, 0xFE/0xFF leads, continuation byte as lead.
  EXPECT_EQ(toWide("\xF4\x90\x80\x80"), units({0xDBC0, 0xDCF4, 0xDBC0, 0xDC90, 0xDBC0, 0xDC80, 0xDBC0, 0xDC80}));
  EXPECT_EQ(toWide("\xF8\x88\x80\x80\x80").size(), 10u);
  EXPECT_EQ(toWide("\xFF\x80"), units({0xDBC0, 0xDCFF, 0xDBC0, 0xDC80}));
  EXPECT_EQ(toWide("\xBF"), units({0xDBC0, 0xDCBF}));
  // Genuine U+100041 would be confused with an escape: it is itself escaped.
  EXPECT_EQ(toWide("\xF4\x80\x81\x81").size(), 8u);
  // Truncated at the end of the string.
  EXPECT_EQ(toWide("a\xE2\x82"), units({0x61, 0xDBC0, 0xDCE2, 0xDBC0, 0xDC82}));
}

TEST(WideToUtf8, DocumentedExamples) {
  EXPECT_EQ(toUtf8(units({0xD800})), "\xED\xA0\x80");
  EXPECT_EQ(toUtf8(units({0xDBC0, 0xDCE9})), "\xE9");
  EXPECT_EQ(toUtf8(units({0x0041, 0x00E9})), "A\xC3\xA9");
  EXPECT_EQ(toUtf8(units({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");
  EXPECT_EQ(toUtf8(units({0xDC00, 0xD800})), "\xED\xB0\x80\xED\xA0\x80");  // reversed pair stays apart
  EXPECT_EQ(toUtf8(units({0xFFFF})), "\xEF\xBF\xBF");
}

TEST(WideToUtf8, EscapeOfZeroDoesNotEndTheName) {
  // U+100000 would restore a zero byte; it is written as a normal character instead.
  EXPECT_EQ(toUtf8(units({0x61, 0xDBC0, 0xDC00, 0x62})), "a\xF4\x80\x80\x80" "b");
}

TEST(Utf16RoundTrip, AdjacentEncodedSurrogatesSurvive) {
  // Decoded separately they would merge into one supplementary character (or into an
  // escape) on the way back.
  for (const char* bytes : {"\xED\xA0\x80\xED\xB0\x80", "\xED\xAF\x80\xED\xB3\xA9", "\xED\xAF\xBF\xED\xBF\xBF"}) {
    EXPECT_EQ(toUtf8(toWide(bytes)), bytes);
  }
}

TEST(Utf16RoundTrip, AnyByteStringSurvives) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 20000; ++i) {
    const std::string bytes = randomBytes(rng);
    const std::u16string wide = toWide(bytes);
    ASSERT_EQ(toUtf8(wide), bytes) << "case " << i;
  }
}

TEST(Utf16RoundTrip, ValidWideTextSurvivesBothWays) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<uint32_t> cp(1, 0x10FFFF);
  for (int i = 0; i < 2000; ++i) {
    std::u16string w;
    for (int k = 0; k < 8; ++k) {
      uint32_t c = cp(rng);
      if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0x100000 && c <= 0x1000FF)) continue;
      if (c < 0x10000) {
        w += static_cast<char16_t>(c);
      } else {
        w += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        w += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
    ASSERT_EQ(toWide(toUtf8(w)), w);
  }
}

// Every capacity from 0 to past the full length: nothing is written beyond the capacity,
// the output is a whole-character prefix of the full conversion, terminated, and the
// result is always the full length.
TEST(Utf16Capacity, NeverWritesPastCapacityAndCountsEverything) {
  std::mt19937 rng(5);
  for (int i = 0; i < 500; ++i) {
    const std::string bytes = randomBytes(rng);
    const std::u16string full = toWide(bytes);
    const int n = static_cast<int>(full.size());
    for (int cap = 0; cap <= n + 2; ++cap) {
      std::vector<char16_t> buf(static_cast<size_t>(cap) + 4, u'\xFFFE');
      ASSERT_EQ(ZUtils::utf8ToWide(bytes.c_str(), buf.data(), cap), n);
      for (size_t k = static_cast<size_t>(cap); k < buf.size(); ++k) ASSERT_EQ(buf[k], u'\xFFFE') << cap;
      if (cap == 0) continue;
      const std::u16string written(buf.data());
      ASSERT_LT(static_cast<int>(written.size()), cap);
      ASSERT_EQ(full.compare(0, written.size(), written), 0);
      // Never half a pair: the prefix ends at a boundary of the full conversion.
      if (!written.empty() && written.size() < full.size()) {
        ASSERT_FALSE(written.back() >= 0xD800 && written.back() <= 0xDBFF &&
                     full[written.size()] >= 0xDC00 && full[written.size()] <= 0xDFFF);
      }
    }

    const std::string back = toUtf8(full);
    const int m = static_cast<int>(back.size());
    for (int cap = 0; cap <= m + 2; ++cap) {
      std::vector<char> buf(static_cast<size_t>(cap) + 4, '\x01');
      ASSERT_EQ(ZUtils::wideToUtf8(full.c_str(), buf.data(), cap), m);
      for (size_t k = static_cast<size_t>(cap); k < buf.size(); ++k) ASSERT_EQ(buf[k], '\x01') << cap;
      if (cap == 0) continue;
      const std::string written(buf.data());
      ASSERT_LT(static_cast<int>(written.size()), cap);
      ASSERT_EQ(back.compare(0, written.size(), written), 0);
    }
  }
}

TEST(Utf16Capacity, StopsBeforeACharacterThatDoesNotFit) {
  char16_t w[3] = {1, 1, 1};
  // "a" + U+1F600 needs 1 + 2 units: with capacity 3 only "a" and the terminator fit.
  EXPECT_EQ(ZUtils::utf8ToWide("a\xF0\x9F\x98\x80" "b", w, 3), 4);
  EXPECT_EQ(w[0], u'a');
  EXPECT_EQ(w[1], 0);
  char b[4] = {1, 1, 1, 1};
  // The later, shorter 'b' is not written after the character that did not fit.
  const char16_t src[] = {u'a', 0x20AC, u'b', 0};
  EXPECT_EQ(ZUtils::wideToUtf8(src, b, 4), 5);
  EXPECT_STREQ(b, "a");
  EXPECT_EQ(ZUtils::utf8ToWide(nullptr, w, 3), 0);
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(ZUtils::wideToUtf8(src, b, -7), 5);
}
