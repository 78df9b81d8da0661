#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "compress/CodeTree.h"
#include "compress/EntropyCoder.h"
#include "compress/EntropyTestSupport.h"
#include "ostutils/Allocation.h"
#include "support/ReportCapture.h"

namespace {

using namespace OSTUtils;
using enttest::BitWriter;

std::vector<unsigned char> encode(const std::vector<int>& v) {
  EntropyCoder st;
  OstArray<char, int64_t> out;
  const int64_t n = Encode(st, v.data(), static_cast<int64_t>(v.size()), out);
  EXPECT_EQ(n, out.size);
  EXPECT_EQ(n % 4, 0);
  return std::vector<unsigned char>(reinterpret_cast<unsigned char*>(out.data),
                                    reinterpret_cast<unsigned char*>(out.data) + out.size);
}

std::vector<int> decodeValues(const std::vector<unsigned char>& s, size_t n) {
  EntropyCoder st;
  EXPECT_TRUE(InitDecoder(st, s.data(), static_cast<int64_t>(s.size())));
  std::vector<int> v;
  for (size_t i = 0; i < n; ++i) v.push_back(DecodeValue(st));
  EXPECT_FALSE(DecoderFailed(st));
  return v;
}

TEST(EntropyEncode, ThreeValuesGiveTheDocumentedFixedWidthBytes) {
  const std::vector<unsigned char> s = encode({5, 6, 7});
  EXPECT_EQ(s, (std::vector<unsigned char>{0x02, 0x05, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00}));
  EXPECT_EQ(decodeValues(s, 3), (std::vector<int>{5, 6, 7}));
}

TEST(EntropyEncode, ManyCopiesOfOneValueTakeNoBitsPerValue) {
  const std::vector<unsigned char> s = encode(std::vector<int>(1000, 42));
  // Header 84 bits, one entry: flag, rate 1000 in 10 bits, symbol 0 in 1 bit = 96 bits.
  ASSERT_EQ(s.size(), 12u);
  EXPECT_EQ(s[0], 0);  // table mode
  EXPECT_EQ(s[1], 1);  // one entry
  EXPECT_EQ(decodeValues(s, 1000), std::vector<int>(1000, 42));
}

TEST(EntropyEncode, FewCopiesAreStoredFixedWidthAndTheBoundaryIsEighty) {
  const std::vector<unsigned char> few = encode(std::vector<int>(79, 3));
  EXPECT_EQ(few[0], 1);  // W = 1
  EXPECT_EQ(decodeValues(few, 79), std::vector<int>(79, 3));
  const std::vector<unsigned char> enough = encode(std::vector<int>(80, 3));
  EXPECT_EQ(enough[0], 0);
  EXPECT_EQ(decodeValues(enough, 80), std::vector<int>(80, 3));
}

TEST(EntropyEncode, EqualRatesStoreTheSecondRateAsAFlagOnly) {
  std::vector<int> v;
  for (int i = 0; i < 200; ++i) {
    v.push_back(0);
    v.push_back(1);
  }
  const std::vector<unsigned char> s = encode(v);
  enttest::RefReader r(s.data(), static_cast<int64_t>(s.size()));
  uint64_t w, n, off, rb, sb, f1, r1, s1, f2, s2;
  ASSERT_TRUE(r.get(8, w) && r.get(32, n) && r.get(32, off) && r.get(6, rb) && r.get(6, sb));
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(rb, 8u);  // 200 has 8 significant bits
  EXPECT_EQ(sb, 2u);  // range 2
  ASSERT_TRUE(r.get(1, f1) && r.get(8, r1) && r.get(2, s1) && r.get(1, f2) && r.get(2, s2));
  EXPECT_EQ(f1, 1u);
  EXPECT_EQ(r1, 200u);
  EXPECT_EQ(f2, 0u);
  EXPECT_EQ(s1 + s2, 1u);  // symbols 0 and 1 in either order
  EXPECT_EQ(decodeValues(s, v.size()), v);
}

TEST(EntropyCodeTree, RatesFiveThreeTwoGiveWordsZeroOneZeroOneOne) {
  const CodeEntry srt[3] = {{10, 5}, {11, 3}, {12, 2}};
  CodeNode tree[6];
  CodeWord words[13] = {};
  int nextFree = 0, depth = 0;
  ASSERT_TRUE(BuildCodeTree(srt, 3, 10, tree, nextFree, words, depth));
  EXPECT_EQ(words[10].length, 1);
  EXPECT_EQ(words[10].code, 0u);
  EXPECT_EQ(words[11].length, 2);
  EXPECT_EQ(words[11].code, 1u);  // bit 1 first, then 0
  EXPECT_EQ(words[12].length, 2);
  EXPECT_EQ(words[12].code, 3u);
  EXPECT_EQ(depth, 2);

  // The decoder reads the same words from a hand-made stream.
  BitWriter b;
  b.put(0, 8);
  b.put(3, 32);
  b.put(100, 32);  // offset
  b.put(3, 6);
  b.put(4, 6);
  b.put(1, 1), b.put(5, 3), b.put(10, 4);
  b.put(1, 1), b.put(3, 3), b.put(11, 4);
  b.put(1, 1), b.put(2, 3), b.put(12, 4);
  b.put(0, 1);                // 10
  b.put(1, 1), b.put(1, 1);   // 12
  b.put(1, 1), b.put(0, 1);   // 11
  EntropyCoder st;
  ASSERT_TRUE(InitDecoder(st, b.bytes.data(), static_cast<int64_t>(b.bytes.size())));
  EXPECT_EQ(DecodeValue(st), 110);
  EXPECT_EQ(DecodeValue(st), 112);
  EXPECT_EQ(DecodeValue(st), 111);
  EXPECT_FALSE(DecoderFailed(st));
}

TEST(EntropyFoldRuns, FoldsOnlyRepeatsReachingTheThreshold) {
  std::vector<int> a = {7, 7, 7, 7, 7};
  EXPECT_EQ(FoldRuns(a.data(), 5, 4), 2);
  EXPECT_EQ(a[0], 7);
  EXPECT_EQ(a[1], -4);
  std::vector<int> b = {7, 7, 7, 7};
  EXPECT_EQ(FoldRuns(b.data(), 4, 4), 4);
  EXPECT_EQ(b, (std::vector<int>{7, 7, 7, 7}));
  std::vector<int> c = {1, 2, 2, 2, 2, 2, 2, 3, 3, 0, 0, 0, 0, 0};
  const int64_t n = FoldRuns(c.data(), 14, 4);
  c.resize(static_cast<size_t>(n));
  EXPECT_EQ(c, (std::vector<int>{1, 2, -5, 3, 3, 0, -4}));
  EXPECT_EQ(FoldRuns(c.data(), 0, 4), 0);
}

TEST(EntropyDecodeAndExpand, RunPastTheEndIsCutWithTheMessage) {
  ReportCapture capture;
  BitWriter b;  // fixed width 32, offset 0: values 7, -5
  b.put(32, 8);
  b.put(0, 32);
  b.put(7, 32);
  b.put(static_cast<uint32_t>(-5), 32);
  EntropyCoder st;
  ASSERT_TRUE(InitDecoder(st, b.bytes.data(), static_cast<int64_t>(b.bytes.size())));
  int out[4] = {0, 0, 0, 99};
  EXPECT_TRUE(DecodeAndExpand(st, out, 3, 0));
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[2], 7);
  EXPECT_EQ(out[3], 99);
  EXPECT_NE(capture.text().find("DecodeAndExpand - constant sequence longer than expected\n"), std::string::npos);
}

TEST(EntropyDecodeAndExpand, RunAsFirstValueAndExhaustedStreamFail) {
  ReportCapture capture;
  BitWriter b;
  b.put(32, 8);
  b.put(0, 32);
  b.put(static_cast<uint32_t>(-2), 32);
  EntropyCoder st;
  ASSERT_TRUE(InitDecoder(st, b.bytes.data(), static_cast<int64_t>(b.bytes.size())));
  int out[4] = {};
  EXPECT_FALSE(DecodeAndExpand(st, out, 3, 0));
  EXPECT_TRUE(DecoderFailed(st));

  // Three 8-bit values in a stream that holds two.
  BitWriter c;
  c.put(8, 8);
  c.put(0, 32);
  c.put(1, 8);
  c.put(2, 8);
  EntropyCoder st2;
  ASSERT_TRUE(InitDecoder(st2, c.bytes.data(), static_cast<int64_t>(c.bytes.size())));
  EXPECT_FALSE(DecodeAndExpand(st2, out, 3, 0));
  EXPECT_EQ(DecodeValue(st2), 0);
  EXPECT_TRUE(DecoderFailed(st2));
}

// Writes a table-mode header and table; rates are used as given.
BitWriter tableStream(const std::vector<std::pair<int, uint64_t>>& entries, int rateBits, int symBits, uint32_t offset) {
  BitWriter b;
  b.put(0, 8);
  b.put(entries.size(), 32);
  b.put(offset, 32);
  b.put(static_cast<uint64_t>(rateBits), 6);
  b.put(static_cast<uint64_t>(symBits), 6);
  uint64_t prev = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].second == prev) {
      b.put(0, 1);
    } else {
      b.put(1, 1);
      b.put(entries[i].second, rateBits);
    }
    prev = entries[i].second;
    b.put(static_cast<uint64_t>(entries[i].first), symBits);
  }
  return b;
}

TEST(EntropyInitDecoder, RejectsInvalidHeadersAndTables) {
  ReportCapture capture;
  EntropyCoder st;
  BitWriter wide;
  wide.put(33, 8);
  wide.put(0, 32);
  wide.put(0, 64);
  EXPECT_FALSE(InitDecoder(st, wide.bytes.data(), static_cast<int64_t>(wide.bytes.size())));
  EXPECT_EQ(DecodeValue(st), 0);
  EXPECT_TRUE(DecoderFailed(st));

  const BitWriter rising = tableStream({{1, 3}, {2, 5}}, 4, 4, 0);
  EXPECT_FALSE(InitDecoder(st, rising.bytes.data(), static_cast<int64_t>(rising.bytes.size()) + 0));
  const BitWriter zero = tableStream({{1, 3}, {2, 0}}, 4, 4, 0);
  EXPECT_FALSE(InitDecoder(st, zero.bytes.data(), static_cast<int64_t>(zero.bytes.size())));
  const BitWriter empty = tableStream({}, 4, 4, 0);
  EXPECT_FALSE(InitDecoder(st, empty.bytes.data(), static_cast<int64_t>(empty.bytes.size())));
  const BitWriter fine = tableStream({{1, 5}, {2, 3}}, 4, 4, 0);
  EXPECT_TRUE(InitDecoder(st, fine.bytes.data(), static_cast<int64_t>(fine.bytes.size())));
  // The same table cut short.
  EXPECT_FALSE(InitDecoder(st, fine.bytes.data(), static_cast<int64_t>(fine.bytes.size()) - 1));
  EXPECT_FALSE(InitDecoder(st, fine.bytes.data(), 4));
  EXPECT_FALSE(InitDecoder(st, nullptr, 100));
}

// Counts allocations so that a huge table count is seen to be refused before allocating.
uint64_t g_largest = 0;
void* countingMalloc(size_t n) {
  if (n > g_largest) g_largest = n;
  return std::malloc(n);
}
void* failingMalloc(size_t) { return nullptr; }
void* failingCalloc(size_t, size_t) { return nullptr; }

TEST(EntropyInitDecoder, TableCountBeyondTheStreamIsRefusedBeforeAllocating) {
  ReportCapture capture;
  BitWriter b;
  b.put(0, 8);
  b.put(0x3FFFFFFF, 32);  // a billion entries in a 16-byte stream
  b.put(0, 32);
  b.put(8, 6);
  b.put(8, 6);
  b.put(0, 44);
  g_largest = 0;
  heapHooks().allocate = &countingMalloc;
  EntropyCoder st;
  EXPECT_FALSE(InitDecoder(st, b.bytes.data(), static_cast<int64_t>(b.bytes.size())));
  resetHeapHooks();
  EXPECT_LT(g_largest, 4096u);
}

TEST(EntropyInitDecoder, FailedAllocationLeavesADecoderThatFailsCleanly) {
  ReportCapture capture;
  const std::vector<unsigned char> s = encode(std::vector<int>(1000, 5));
  heapHooks() = HeapHooks{&failingMalloc, &failingCalloc};
  EntropyCoder st;
  EXPECT_FALSE(InitDecoder(st, s.data(), static_cast<int64_t>(s.size())));
  resetHeapHooks();
  EXPECT_TRUE(st.noMemory);  // not to be taken for a damaged stream
  EXPECT_NE(capture.text().find("Encode InitDecoder srt failed!\n"), std::string::npos);
  EXPECT_EQ(st.srt, nullptr);
  EXPECT_EQ(st.tree, nullptr);
  int out[8];
  EXPECT_FALSE(DecodeAndExpand(st, out, 8, 0));
  EXPECT_EQ(DecodeValue(st), 0);
  EXPECT_TRUE(DecoderFailed(st));
  EXPECT_FALSE(InitDecoder(st, s.data(), 3));  // a cut stream is damage
  EXPECT_FALSE(st.noMemory);

  heapHooks() = HeapHooks{&failingMalloc, &failingCalloc};
  OstArray<char, int64_t> o;
  const int v[3] = {1, 2, 3};
  // The output reservation goes through OstArray, the rates array through the hooks.
  EXPECT_EQ(Encode(st, v, 3, o), 0);
  resetHeapHooks();
  EXPECT_NE(capture.text().find("Encode newZeroedArray rates failed!\n"), std::string::npos);
}

std::vector<int> randomValues(std::mt19937& rng, int kind, size_t n) {
  std::vector<int> v(n);
  std::geometric_distribution<int> geo(0.3);
  std::uniform_int_distribution<int> small(0, 15);
  std::uniform_int_distribution<int> wide(INT_MIN, INT_MAX);
  std::uniform_int_distribution<int> few(0, 3);
  for (size_t i = 0; i < n; ++i) {
    switch (kind) {
      case 0: v[i] = geo(rng); break;
      case 1: v[i] = small(rng) - 8; break;
      case 2: v[i] = wide(rng); break;
      case 3: v[i] = few(rng) == 0 ? INT_MIN : INT_MAX; break;
      case 4: v[i] = geo(rng) * 1000003 - 50; break;
      default: v[i] = static_cast<int>(i / 17); break;
    }
  }
  return v;
}

TEST(EntropyRoundTrip, RandomAndStructuredSequencesDecodeToThemselves) {
  std::mt19937 rng(1234);
  const size_t sizes[] = {0, 1, 2, 3, 7, 31, 100, 1000, 20000};
  for (int kind = 0; kind < 6; ++kind) {
    for (size_t n : sizes) {
      const std::vector<int> v = randomValues(rng, kind, n);
      const std::vector<unsigned char> s = encode(v);
      ASSERT_FALSE(s.empty());
      EXPECT_EQ(decodeValues(s, n), v) << "kind " << kind << " n " << n;
    }
  }
}

TEST(EntropyRoundTrip, FoldedRunsExpandBackWithTheBase) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 200; ++trial) {
    const size_t n = 1 + rng() % 3000;
    std::vector<int> v(n);
    std::geometric_distribution<int> len(0.1);
    std::geometric_distribution<int> val(0.5);
    for (size_t i = 0; i < n;) {
      const int x = val(rng);
      for (int k = 0; k <= len(rng) && i < n; ++k) v[i++] = x;
    }
    std::vector<int> folded = v;
    const int64_t m = FoldRuns(folded.data(), static_cast<int64_t>(n), 4);
    folded.resize(static_cast<size_t>(m));
    const std::vector<unsigned char> s = encode(folded);
    const int base = static_cast<int>(rng()) - 1000;
    EntropyCoder st;
    ASSERT_TRUE(InitDecoder(st, s.data(), static_cast<int64_t>(s.size())));
    std::vector<int> out(n);
    ASSERT_TRUE(DecodeAndExpand(st, out.data(), static_cast<int64_t>(n), base));
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(out[i], static_cast<int>(static_cast<uint32_t>(v[i]) + static_cast<uint32_t>(base))) << i;
    }
  }
}

// Random tables (falling rates, some equal, some deep trees) over random payload bits: the
// table decoder agrees with the bit-by-bit reference wherever the reference succeeds, and
// fails where it fails. The shapes cover words within the primary table, words needing a
// subtable, trees deeper than two lookups (rates halving from 2^31),
// values beyond 24 bits (a random 32-bit offset) and streams long enough for the buffered
// fast loop as well as its bounded tail.
TEST(EntropyReference, TableDecoderMatchesTheBitByBitDecoderOnRandomStreams) {
  std::mt19937 rng(777);
  int decoded = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const int shape = trial % 4;  // 0 geometric, 1 halving from 2^31, 2 and 3 random steps
    const int n = 1 + static_cast<int>(rng() % (shape == 1 ? 70 : 200));
    std::vector<std::pair<int, uint64_t>> entries;
    uint64_t rate = shape == 1 ? 0x7FFFFFFF - rng() % 1000 : 1 + rng() % 100000;
    for (int i = 0; i < n; ++i) {
      int sym = static_cast<int>(rng() % 4096);
      if (rng() % 8 == 0) sym = 4095 - (i % 7);  // run values after the offset
      entries.push_back({sym, rate});
      if (shape == 0) {
        rate = rate > 1 ? rate / 2 + (rng() % 2) * (rate / 8) : 1;
      } else if (shape == 1) {
        rate = rate / 2 + (rng() % 4 == 0 ? rate / 16 : 0);
      } else if (rng() % 3) {
        rate = rate > 1 ? rate - rng() % rate : 1;
      }
      if (rate < 1) rate = 1;
    }
    const uint32_t offset = trial % 8 == 3 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % 3 == 0 ? -4000 : 0);
    BitWriter b = tableStream(entries, 31, 12, offset);
    if (shape == 1) {
      // Deep words are improbable in random bits: write the words of random entries first.
      std::vector<CodeEntry> srt;
      uint64_t total = 0;
      for (size_t k = 0; k < entries.size(); ++k) {
        srt.push_back(CodeEntry{static_cast<int>(k), static_cast<int>(entries[k].second)});
        total += entries[k].second;
      }
      std::vector<CodeNode> tree(2 * srt.size());
      std::vector<CodeWord> words(srt.size());
      int nextFree = 0, maxDepth = 0;
      if (BuildCodeTree(srt.data(), static_cast<int>(srt.size()), total, tree.data(), nextFree, words.data(), maxDepth)) {
        for (int k = 0; k < 300; ++k) {
          const CodeWord& w = words[rng() % words.size()];
          b.put(w.code, w.length);
        }
      }
    }
    const bool longStream = trial % 5 == 0;
    const int payload = static_cast<int>(rng() % (longStream ? 6000 : 400));
    for (int i = 0; i < payload; ++i) b.put(rng() & 0xFF, 8);
    const int64_t count = static_cast<int64_t>(rng() % (longStream ? 4000 : 600));
    const int base = static_cast<int>(rng() % 50);

    std::vector<int> expect;
    const bool refOk = enttest::refDecodeAndExpand(b.bytes.data(), static_cast<int64_t>(b.bytes.size()), count, base,
                                                    expect);
    EntropyCoder st;
    ReportCapture capture;
    std::vector<int> got(static_cast<size_t>(count) + 1, 0);
    const bool init = InitDecoder(st, b.bytes.data(), static_cast<int64_t>(b.bytes.size()));
    const bool ok = init && DecodeAndExpand(st, got.data(), count, base);
    ASSERT_EQ(ok, refOk) << "trial " << trial;
    if (ok) {
      ++decoded;
      got.resize(static_cast<size_t>(count));
      ASSERT_EQ(got, expect) << "trial " << trial;
    }
    // Single values agree as well.
    if (init) {
      EntropyCoder one;
      ASSERT_TRUE(InitDecoder(one, b.bytes.data(), static_cast<int64_t>(b.bytes.size())));
      std::vector<int> refOne;
      for (int k = 0; k < 20; ++k) {
        const int v = DecodeValue(one);
        if (DecoderFailed(one)) break;
        refOne.push_back(v);
      }
      // The leading plain values equal the reference's expansion with base 0.
      for (size_t k = 0; k < refOne.size() && k < 20; ++k) {
        if (refOne[k] < 0) break;
        std::vector<int> prefix;
        ASSERT_TRUE(enttest::refDecodeAndExpand(b.bytes.data(), static_cast<int64_t>(b.bytes.size()),
                                                static_cast<int64_t>(k + 1), 0, prefix));
        ASSERT_EQ(prefix[k], refOne[k]);
      }
    }
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(decoded, 100);
  EXPECT_LT(decoded, 350);
}

// Long sequences given spare room are decoded as interleaved chains. Cases: encoded
// dense-like values with no, few and many folded runs, decoded for exactly their count,
// for fewer (stopping inside either chain, or cutting a run), and for more (running out);
// a first value that is a run; and random bits (words up to 18 bits take three chains,
// longer ones two). The result, the values produced before a failure, the untouched rest
// of the output and the bit position reached equal the one-chain decoder's, and the
// values the bit-by-bit reference's.
TEST(EntropyReference, InterleavedChainDecodingMatchesOneChainAndTheReference) {
  std::mt19937 rng(4242);
  ReportCapture capture;
  for (int trial = 0; trial < 36; ++trial) {
    const int runs = trial % 3;  // 0 none, 1 few, 2 many
    const size_t n = 5000 + rng() % 30000;
    std::vector<int> v(n);
    std::geometric_distribution<int> step(0.002);
    std::geometric_distribution<int> len(runs == 2 ? 0.2 : 0.05);
    for (size_t i = 0; i < n;) {
      const int x = step(rng);
      const bool run = runs > 0 && rng() % (runs == 1 ? 200 : 6) == 0;
      for (int k = run ? len(rng) + 4 : 1; k > 0 && i < n; --k) v[i++] = x;
    }
    std::vector<unsigned char> s;
    if (trial % 6 == 5) {
      s = encode(std::vector<int>(v.begin(), v.begin() + 4000));  // then random bits
      for (size_t k = 0; k < 4 * n; ++k) s.push_back(static_cast<unsigned char>(rng()));
    } else {
      std::vector<int> folded = v;
      folded.resize(static_cast<size_t>(FoldRuns(folded.data(), static_cast<int64_t>(n), 4)));
      if (trial % 6 == 4) folded[0] = -3;  // a run with no value before it
      s = encode(folded);
    }
    const int64_t counts[] = {static_cast<int64_t>(n), static_cast<int64_t>(n) / 2 + static_cast<int64_t>(rng() % 500),
                              static_cast<int64_t>(n) - 1 - static_cast<int64_t>(rng() % 40),
                              static_cast<int64_t>(n) + 1 + static_cast<int64_t>(rng() % 300)};
    for (int64_t count : counts) {
      const int base = static_cast<int>(rng() % 1000) - 500;
      std::vector<int> expect;
      const bool refOk =
          enttest::refDecodeAndExpand(s.data(), static_cast<int64_t>(s.size()), count, base, expect);
      EntropyCoder one, two;
      std::vector<int> gotOne(static_cast<size_t>(count), 7), gotTwo(static_cast<size_t>(count), 7);
      std::vector<int> spare(static_cast<size_t>(DecodeSpareInts(count)));
      int64_t producedOne = -1, producedTwo = -1;
      ASSERT_TRUE(InitDecoder(one, s.data(), static_cast<int64_t>(s.size()))) << "trial " << trial;
      ASSERT_TRUE(InitDecoder(two, s.data(), static_cast<int64_t>(s.size())));
      const bool okOne = DecodeAndExpand(one, gotOne.data(), count, base, &producedOne);
      const bool okTwo = DecodeAndExpand(two, gotTwo.data(), count, base, &producedTwo, spare.data(),
                                         static_cast<int64_t>(spare.size()));
      ASSERT_EQ(okOne, refOk) << "trial " << trial << " count " << count;
      ASSERT_EQ(okTwo, okOne) << "trial " << trial << " count " << count;
      ASSERT_EQ(producedTwo, producedOne) << "trial " << trial << " count " << count;
      ASSERT_EQ(two.bitPos, one.bitPos) << "trial " << trial << " count " << count;
      // Past the values produced out[] is untouched.
      ASSERT_EQ(gotTwo, gotOne) << "trial " << trial << " count " << count;
      if (refOk) {
        ASSERT_EQ(gotTwo, expect) << "trial " << trial << " count " << count;
      }
    }
  }
}

TEST(EntropyDamage, TruncatedEncodedStreamsFailInsteadOfReadingPastTheEnd) {
  ReportCapture capture;
  std::mt19937 rng(5);
  for (int kind = 0; kind < 6; ++kind) {
    std::vector<int> v = randomValues(rng, kind, 300);
    for (int& x : v) x = x < 0 ? (x == INT_MIN ? 0 : -x) : x;
    const std::vector<unsigned char> s = encode(v);
    for (size_t cut = 0; cut < s.size(); ++cut) {
      // A heap copy of exactly `cut` bytes: any read past it is caught by the sanitizer.
      std::vector<unsigned char> part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(cut));
      EntropyCoder st;
      std::vector<int> out(v.size());
      const bool ok = InitDecoder(st, part.data(), static_cast<int64_t>(part.size())) &&
                      DecodeAndExpand(st, out.data(), static_cast<int64_t>(out.size()), 0);
      // Only the padding of the last word may be cut without losing values.
      if (ok) {
        EXPECT_GE(cut + 4, s.size());
        EXPECT_EQ(out, v);
      }
    }
  }
}

}  // namespace
