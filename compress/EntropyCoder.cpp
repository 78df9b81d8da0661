// Coder state and the decoding direction of the entropy coder.
#include "compress/EntropyCoder.h"

#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "compress/BitReader.h"
#include "ostutils/Allocation.h"
#include "zutils/Report.h"

namespace OSTUtils {

namespace {

// Width of the primary decoding table: frequent values have short words, so most values
// take one lookup; the rest take one more in a subtable (CodeTree.h). Which words take
// the second lookup is unpredictable, so on dense data (words of 11 to 13 bits on
// average, the longest 16 to 18) a mispredicted branch each time costs more than a wider
// primary: at 14 bits 3% of the words take it, against 12% at 13 bits, and its byte
// length table (16 KiB) still stays in the first-level cache.
const int kPrimaryBits = 14;
// Longest word the fast loop decodes in two lookups: primary plus the widest subtable. Two
// such words fit the 56 bits a refill guarantees.
const int kTwoLookupBits = 28;
const int kSubtableBits = kTwoLookupBits - kPrimaryBits;
static_assert(2 * kTwoLookupBits <= 56, "two words per refill");

inline uint64_t lowBits(uint64_t v, int bits) { return bits >= 64 ? v : (v & ((uint64_t(1) << bits) - 1)); }

// Reads `bits` (at most 57) bits; failure when they run past the stream.
inline uint64_t readBits(EntropyCoder& st, int bits) {
  const uint64_t w = peekBits(st.start, st.availableBytes, fastPeekEnd(st.availableBytes), st.bitPos);
  st.bitPos += bits;
  if (st.bitPos > st.bitLimit) st.failed = true;
  return lowBits(w, bits);
}

// A bit buffer over the stream for the fast loops.
// Only used while next <= lastLoad (8 readable bytes at next).
struct BitLane {
  uint64_t buf = 0;
  unsigned left = 0;  // bits held in buf
  int64_t next = 0;   // byte index of the next load

  inline void refill(const unsigned char* data) {
    uint64_t load;
    std::memcpy(&load, data + next, sizeof load);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    load = __builtin_bswap64(load);
#endif
    buf |= load << left;
    next += (63 - left) >> 3;
    left |= 56;
  }
  // Starts at bit pos (its byte must be a valid load start); holds 49 to 56 bits after.
  inline void start(const unsigned char* data, int64_t pos) {
    next = pos >> 3;
    buf = 0;
    left = 0;
    refill(data);
    buf >>= pos & 7;
    left -= static_cast<unsigned>(pos & 7);
  }
  inline int64_t position() const { return next * 8 - left; }
};

// Decodes the word at bit `pos` through the table and its subtables (any depth), peeking
// afresh at every level, and advances pos. Bits past the stream read as zero; the caller
// compares pos with the stream's end.
inline int32_t decodeAt(const EntropyCoder& st, int64_t fastEnd, int64_t& pos) {
  const uint32_t* table = st.table;
  uint32_t e = table[lowBits(peekBits(st.start, st.availableBytes, fastEnd, pos), st.primaryBits)];
  if (e & kDecodeLink) {
    int64_t at = pos + st.primaryBits;  // first bit of the subtable's index
    int width = decodeEntryBits(e);
    e = table[decodeEntryIndex(e) + lowBits(peekBits(st.start, st.availableBytes, fastEnd, at), width)];
    // Third level on: leaves count from their own table's start.
    while (e & kDecodeLink) {
      at += width;
      width = decodeEntryBits(e);
      e = table[decodeEntryIndex(e) + lowBits(peekBits(st.start, st.availableBytes, fastEnd, at), width)];
      if (!(e & kDecodeLink)) {
        pos = at + decodeEntryBits(e);
        return decodeEntryValue(e, st.values);
      }
    }
  }
  pos += decodeEntryBits(e);
  return decodeEntryValue(e, st.values);
}

// decodeAt for the two-level form (st.lengths set): at most two lookups.
inline int32_t decodeSplitAt(const EntropyCoder& st, int64_t fastEnd, int64_t& pos) {
  const uint64_t w = peekBits(st.start, st.availableBytes, fastEnd, pos);
  uint32_t e = static_cast<uint32_t>(lowBits(w, st.primaryBits));
  unsigned len = st.lengths[e];
  if (len & kSplitLink) {
    len &= ~unsigned(kSplitLink);
    e = static_cast<uint32_t>(st.values[e]) + static_cast<uint32_t>(lowBits(w >> st.primaryBits, static_cast<int>(len)));
    len = st.lengths[e];
  }
  pos += len;
  return st.values[e];
}

bool fail(EntropyCoder& st) {
  st.release();
  st.failed = true;
  return false;
}

// A table the decoder could not allocate says nothing about the stream: callers must not
// take it for a damaged one.
bool failForMemory(EntropyCoder& st) {
  fail(st);
  st.noMemory = true;
  return false;
}

}  // namespace

EntropyCoder::~EntropyCoder() { release(); }

void EntropyCoder::release() {
  releaseArray(val2code);
  releaseArray(srt);
  releaseArray(tree);
  releaseArray(lengths);
  releaseArray(table);
  releaseArray(values);
  primaryBits = 0;
  longestWord = 0;
  tableEntries = 0;
  nextFree = 0;
  ready = false;
}

bool InitDecoder(EntropyCoder& st, const unsigned char* data, int64_t availableBytes) {
  st.release();
  st.failed = false;
  st.noMemory = false;
  st.tableMode = false;
  st.count = 0;
  st.offset = 0;
  st.start = data;
  st.availableBytes = data ? (availableBytes > 0 ? availableBytes : 0) : 0;
  // A stream longer than the bit counter can address is cut to what it can.
  if (st.availableBytes > (INT64_MAX >> 4)) st.availableBytes = INT64_MAX >> 4;
  st.bitPos = 0;
  st.bitLimit = st.availableBytes * 8;

  if (st.bitLimit < 40) {
    ZUtils::logReport("InitDecoder: stream of %lld bytes is too short\n", static_cast<long long>(st.availableBytes));
    return fail(st);
  }
  const int w = static_cast<int>(readBits(st, 8));
  const uint32_t x = static_cast<uint32_t>(readBits(st, 32));
  if (w != 0) {
    if (w > 32) {
      ZUtils::logReport("InitDecoder: value width %d above 32\n", w);
      return fail(st);
    }
    st.count = w;
    st.offset = static_cast<int>(x);
    st.ready = true;
    return true;
  }

  st.tableMode = true;
  if (st.bitLimit < 84) {
    ZUtils::logReport("InitDecoder: stream of %lld bytes is too short\n", static_cast<long long>(st.availableBytes));
    return fail(st);
  }
  st.offset = static_cast<int>(static_cast<uint32_t>(readBits(st, 32)));
  const int rateBits = static_cast<int>(readBits(st, 6));
  const int symBits = static_cast<int>(readBits(st, 6));
  // Every entry takes at least its flag bit: a count the stream cannot hold is refused
  // before anything is allocated for it.
  const int64_t bitsLeft = st.bitLimit - st.bitPos;
  if (x == 0 || x > static_cast<uint32_t>(INT_MAX / 2) || static_cast<int64_t>(x) > bitsLeft) {
    ZUtils::logReport("InitDecoder: table of %u entries does not fit the stream\n", x);
    return fail(st);
  }
  if (rateBits > 32 || symBits > 32) {
    ZUtils::logReport("InitDecoder: rate width %d or symbol width %d above 32\n", rateBits, symBits);
    return fail(st);
  }
  const int n = static_cast<int>(x);
  st.count = n;

  if (!newArray(st.srt, static_cast<uint64_t>(n))) {
    ZUtils::logReport("Encode InitDecoder srt failed!\n");
    return failForMemory(st);
  }
  // The entries are thousands per dense zone: each is read from one peek (two when the
  // rate and symbol widths together pass what a peek holds) with the position checked once,
  // after the entry. Bits past the end peek as zero, so a cut entry is judged on the same
  // values, and in the same order, as when read field by field.
  uint64_t total = 0;
  uint64_t rate = 0;
  {
    const unsigned char* bytes = st.start;
    const int64_t byteCount = st.availableBytes;
    const int64_t fastEnd = fastPeekEnd(byteCount);
    const int64_t limit = st.bitLimit;
    const uint64_t rateMask = (uint64_t(1) << rateBits) - 1;
    const uint64_t symMask = (uint64_t(1) << symBits) - 1;
    const bool onePeek = 1 + rateBits + symBits <= 57;
    int64_t pos = st.bitPos;
    CodeEntry* srt = st.srt;
    int i = 0;
    // While 8 bytes can be loaded, from a bit buffer holding at least a whole entry after
    // each refill: the serial chain from one entry to the next is then shifts, not loads.
    // The checks are the same, in the same order; an entry here never passes the end.
    const int64_t lastLoad = byteCount - 8;
    if (1 + rateBits + symBits <= 56 && (pos >> 3) <= lastLoad) {
      BitLane r;
      r.start(bytes, pos);
      for (; i < n && r.next <= lastLoad; ++i) {
        r.refill(bytes);
        uint64_t w = r.buf;
        unsigned used = 1;
        if (w & 1) {
          const uint64_t next = (w >> 1) & rateMask;
          if (next == 0 || (i > 0 && next > rate) || next > static_cast<uint64_t>(INT_MAX)) {
            ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
            return fail(st);
          }
          rate = next;
          used += static_cast<unsigned>(rateBits);
        } else if (i == 0) {
          ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
          return fail(st);
        }
        w >>= used;
        srt[i].rate = static_cast<int>(rate);
        srt[i].symbol = static_cast<int>(static_cast<uint32_t>(w & symMask));
        total += rate;
        used += static_cast<unsigned>(symBits);
        r.buf >>= used;
        r.left -= used;
      }
      pos = r.position();
    }
    for (; i < n; ++i) {
      uint64_t w = peekBits(bytes, byteCount, fastEnd, pos);
      if (w & 1) {
        const uint64_t next = (w >> 1) & rateMask;
        // Rates are positive and falling; anything else cannot split into a usable tree.
        if (next == 0 || (i > 0 && next > rate) || next > static_cast<uint64_t>(INT_MAX)) {
          ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
          return fail(st);
        }
        rate = next;
        pos += 1 + rateBits;
        w = onePeek ? w >> (1 + rateBits) : peekBits(bytes, byteCount, fastEnd, pos);
      } else if (i == 0) {
        ZUtils::logReport("InitDecoder: table rates are not positive and falling\n");
        return fail(st);
      } else {
        pos += 1;
        w >>= 1;
      }
      srt[i].rate = static_cast<int>(rate);
      srt[i].symbol = static_cast<int>(static_cast<uint32_t>(w & symMask));
      total += rate;
      pos += symBits;
      if (pos > limit) {
        st.bitPos = pos;
        ZUtils::logReport("InitDecoder: table runs past the end of the stream\n");
        return fail(st);
      }
    }
    st.bitPos = pos;
  }

  {
    // Usually no word is longer than two lookups: the table comes straight from the split.
    const uint64_t cap = (uint64_t(1) << kPrimaryBits) + 128 * static_cast<uint64_t>(n) + 65536;
    DecodeTableLayout layout;
    if (BuildTwoLevelDecodeTable(st.srt, n, total, st.offset, kPrimaryBits, kSubtableBits, cap, st.lengths,
                                 st.values, layout) == 1) {
      st.primaryBits = layout.primaryBits;
      st.longestWord = layout.longestWord;
      st.tableEntries = layout.entries;
      st.ready = true;
      return true;
    }
    releaseArray(st.lengths);
    releaseArray(st.values);
  }
  if (!newArray(st.tree, 2 * static_cast<uint64_t>(n))) {
    ZUtils::logReport("Encode InitDecoder tree failed!\n");
    return failForMemory(st);
  }
  int maxDepth = 0;
  bool splitScratchRefused = false;
  if (!BuildCodeTree(st.srt, n, total, st.tree, st.nextFree, nullptr, maxDepth, &splitScratchRefused)) {
    if (splitScratchRefused) {
      ZUtils::logReport("Encode InitDecoder tree failed!\n");
      return failForMemory(st);
    }
    ZUtils::logReport("InitDecoder: table without a usable split\n");
    return fail(st);
  }
  // The decoding table is bounded by the number of tree nodes before it is allocated: at
  // most 64 entries per node beyond the primary table (narrower subtables are chosen when
  // wider ones would pass that), so a hostile tree cannot ask for more.
  const int nodes = st.nextFree;
  const uint64_t cap = (uint64_t(1) << kPrimaryBits) + 64 * static_cast<uint64_t>(nodes) + 65536;
  int* heights = nullptr;
  DecodeTableLayout layout;
  const bool heightsHeld = newArray(heights, static_cast<uint64_t>(nodes));
  const bool planned =
      heightsHeld && PlanDecodeTable(st.tree, nodes, maxDepth, kPrimaryBits, kSubtableBits, cap, heights, layout);
  if (!planned || !newArray(st.table, layout.entries) || !newArray(st.values, static_cast<uint64_t>(nodes))) {
    releaseArray(heights);
    ZUtils::logReport("Encode InitDecoder lookup table failed!\n");
    // A plan refused by its bound is a hostile tree; anything else was an allocation.
    return heightsHeld && !planned ? fail(st) : failForMemory(st);
  }
  BuildDecodeTable(st.tree, heights, st.offset, layout, st.table, st.values);
  releaseArray(heights);
  st.primaryBits = layout.primaryBits;
  st.tableEntries = layout.entries;
  st.ready = true;
  return true;
}

int DecodeValue(EntropyCoder& st) {
  if (!st.ready || st.failed) {
    st.failed = true;
    return 0;
  }
  if (!st.tableMode) {
    const uint32_t field = static_cast<uint32_t>(readBits(st, st.count));
    if (st.failed) return 0;
    return static_cast<int>(field + static_cast<uint32_t>(st.offset));
  }
  int64_t pos = st.bitPos;
  const int64_t fastEnd = fastPeekEnd(st.availableBytes);
  const int32_t value = st.lengths ? decodeSplitAt(st, fastEnd, pos) : decodeAt(st, fastEnd, pos);
  if (pos > st.bitLimit) {
    st.failed = true;
    st.bitPos = st.bitLimit + 1;
    return 0;
  }
  st.bitPos = pos;
  return value;
}

namespace {

// Stores a decoded value at out[i] and advances i, or expands a run. Returns false when
// decoding must stop (`ok` tells whether the stop is a failure).
inline bool storeValue(int32_t v, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok) {
  if (v >= 0) {
    out[i++] = static_cast<int>(base + static_cast<uint32_t>(v));
    return true;
  }
  if (i == 0) {
    ZUtils::logReport("DecodeAndExpand - run with no value before it\n");
    ok = false;
    return false;
  }
  const int64_t run = -static_cast<int64_t>(v);
  const int prev = out[i - 1];
  if (run > n - i) {
    for (; i < n; ++i) out[i] = prev;
    ZUtils::logReport("DecodeAndExpand - constant sequence longer than expected\n");
    ok = true;
    return false;
  }
  const int64_t stop = i + run;
  for (; i < stop; ++i) out[i] = prev;
  return true;
}

// Table-mode decoding of out[i .. n-1] from st.bitPos through the chained form (trees too
// deep for two lookups); returns the bit position reached.
//
// The fast loop keeps up to 63 stream bits in a 64-bit buffer. A refill loads the next 8
// bytes unconditionally, shifts them in above the bits still held and advances by as many
// whole bytes as fitted, leaving 56 to 63 bits; that holds two words of up to
// kTwoLookupBits bits, so the loop refills once per two values without testing the count.
// Bits loaded but not yet counted are the stream's own next bits, so OR-ing the next load
// over them changes nothing. Words that need a third lookup (only trees deeper than
// kTwoLookupBits) and the last 8 bytes of the stream go through decodeAt, which is bounded.
int64_t decodeTable(const EntropyCoder& st, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok) {
  const unsigned char* data = st.start;
  const int64_t fastEnd = fastPeekEnd(st.availableBytes);
  const int64_t lastLoad = st.availableBytes - 8;  // last byte index an 8-byte load may start at
  const uint32_t* table = st.table;
  const int32_t* values = st.values;
  const int primary = st.primaryBits;
  const uint64_t primaryMask = (uint64_t(1) << primary) - 1;
  int64_t pos = st.bitPos;

  BitLane lane;
  bool started = false;  // the lane holds the bits from pos on
  while (i < n) {
    if (!started) {
      if ((pos >> 3) > lastLoad) break;
      lane.start(data, pos);
      started = true;
    }
    if (lane.next > lastLoad) break;
    lane.refill(data);  // 56 bits or more: two words of up to kTwoLookupBits
    for (int k = 0; k < 2; ++k) {
      uint32_t e = table[lane.buf & primaryMask];
      if (e & kDecodeLink) {
        e = table[decodeEntryIndex(e) +
                  (static_cast<uint32_t>(lane.buf >> primary) & ((uint32_t(1) << (e & 63)) - 1))];
        if (e & kDecodeLink) {
          // Third lookup or deeper: decode from the position, then start the lane afresh.
          pos = lane.position();
          const int32_t v = decodeAt(st, fastEnd, pos);
          if (pos > st.bitLimit) {
            ok = false;
            return pos;
          }
          started = false;
          if (!storeValue(v, out, i, n, base, ok)) return pos;
          break;
        }
      }
      // Leaves of both levels hold the whole word length.
      const unsigned len = e & 63;
      lane.buf >>= len;
      lane.left -= len;
      const int32_t v = decodeEntryValue(e, values);
      if (v >= 0) {
        out[i++] = static_cast<int>(base + static_cast<uint32_t>(v));
      } else if (!storeValue(v, out, i, n, base, ok)) {
        return lane.position();
      }
      if (i >= n) break;
    }
  }
  if (started) pos = lane.position();
  // The tail: bounded peeks, each word checked against the end of the stream.
  while (i < n) {
    const int32_t v = decodeAt(st, fastEnd, pos);
    if (pos > st.bitLimit) {
      ok = false;
      return pos;
    }
    if (!storeValue(v, out, i, n, base, ok)) return pos;
  }
  return pos;
}

// One word of the two-level form from a lane holding at least kTwoLookupBits bits. Only
// the length is on the serial chain from one word to the next (a byte table, a shift);
// the value is loaded off it.
template <int Primary>
inline int32_t splitWord(BitLane& lane, const uint8_t* lengths, const int32_t* values, int primary,
                         uint64_t primaryMask) {
  const int shift = Primary > 0 ? Primary : primary;
  uint32_t e = static_cast<uint32_t>(lane.buf & primaryMask);
  unsigned len = lengths[e];
  if (len & kSplitLink) {
    e = static_cast<uint32_t>(values[e]) + (static_cast<uint32_t>(lane.buf >> shift) & ((uint32_t(1) << (len & 63)) - 1));
    len = lengths[e];
  }
  lane.buf >>= len;
  lane.left -= len;
  return values[e];
}

// Below this many values a sequence is decoded as one lane.
const int64_t kLanesMinValues = 4096;
// Words per lane and refill: two of up to kTwoLookupBits bits, or three when no word is
// longer than a third of the 56 bits a refill guarantees.
const int kThreeWordBits = 18;
// A lane's groups, from the first one the lanes before it have not passed, in which the
// decoding must meet one of its word boundaries; past them its words (and those of the
// lanes after it) are dropped.
const int64_t kLaneSyncGroups = 16;

// dst[k] = base + src[k] for the leading non-negative src[k], k < count (src may be dst);
// returns how many.
inline int64_t storePlain(const int* src, int* dst, int64_t count, uint32_t base) {
  int64_t k = 0;
#if defined(__SSE2__)
  const __m128i b = _mm_set1_epi32(static_cast<int>(base));
  for (; k + 4 <= count; k += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
    if (_mm_movemask_ps(_mm_castsi128_ps(x)) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k), _mm_add_epi32(x, b));
  }
#endif
  for (; k < count && src[k] >= 0; ++k) dst[k] = static_cast<int>(base + static_cast<uint32_t>(src[k]));
  return k;
}

// A group start kept as the low 32 bits of its bit position, at most 2^31 past origin.
inline int64_t markedBit(int64_t origin, int mark) {
  return origin + static_cast<int64_t>(static_cast<uint32_t>(mark) - static_cast<uint32_t>(origin));
}

// Stores the raw words words[from .. count-1] (values and runs) as decodeTable would.
// When decoding stops inside them, returns false with `pos` the bit after the last word
// used; marks[g * stride] marks (markedBit) the bit where word g * Words starts.
template <int Words>
inline bool storeWords(const EntropyCoder& st, int64_t fastEnd, const int* words, int64_t from, int64_t count,
                       const int* marks, int stride, int64_t origin, int* out, int64_t& i, int64_t n, uint32_t base,
                       bool& ok, int64_t& pos) {
  int64_t k = from;
  while (k < count) {
    const int64_t span = count - k < n - i ? count - k : n - i;
    const int64_t plain = storePlain(words + k, out + i, span, base);
    k += plain;
    i += plain;
    bool stop = i >= n;
    if (!stop && k < count) {
      stop = !storeValue(words[k], out, i, n, base, ok) || i >= n;
      ++k;
    }
    if (stop) {
      // Stopped after word k - 1: find the bit after it from its group's start.
      const int64_t group = (k - 1) / Words;
      pos = markedBit(origin, marks[group * stride]);
      for (int64_t r = group * Words; r < k; ++r) decodeSplitAt(st, fastEnd, pos);
      return false;
    }
  }
  return true;
}

// decodeTable for the two-level form. Every word takes at most two lookups, so a refill
// serves Words words (see kThreeWordBits) and the loop never leaves the buffer early.
//
// The loop is bound by the latency of the lookup chain, so long sequences are first
// decoded as Lanes chains at once: lane 0 from the start, lane l from l/Lanes of the
// remaining bits, which is no word boundary in general. All keep their raw words (runs
// unexpanded) and the bit where each group of Words words starts. A prefix code falls
// back into step with the true word boundaries after a few words, so once the decoding,
// going on alone from the end of lane l - 1's words, stands on the start of one of lane
// l's groups, lane l's words from that group on are the stream's own. When that does not
// happen within kLaneSyncGroups groups, the remaining lanes' words are dropped and the
// decoding goes on alone. Either way every value comes from a word decoded at a true word
// boundary, so the result is the one-lane result. Three lanes pay on dense data (three
// words per refill); with two words per refill the loop has registers for two only.
template <int Primary, int Words, int Lanes>
int64_t decodeSplit(const EntropyCoder& st, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok, int* spare,
                    int64_t spareInts) {
  const unsigned char* data = st.start;
  const int64_t bytes = st.availableBytes;
  const int64_t fastEnd = fastPeekEnd(bytes);
  const int64_t lastLoad = bytes - 8;  // last byte index an 8-byte load may start at
  const uint8_t* lengths = st.lengths;
  const int32_t* values = st.values;
  const int primary = Primary > 0 ? Primary : st.primaryBits;
  const uint64_t primaryMask = (uint64_t(1) << primary) - 1;
  int64_t pos = st.bitPos;

  if (i == 0 && spare && n >= kLanesMinValues) {
    // The first value alone: lane 0 writes its raw words into out[] ahead of storing
    // them, and a run there (no value before it) must fail with out[] untouched.
    const int32_t v = decodeSplitAt(st, fastEnd, pos);
    if (pos > st.bitLimit) {
      ok = false;
      return pos;
    }
    if (!storeValue(v, out, i, n, base, ok)) return pos;
  }

  BitLane a;
  bool laneA = (pos >> 3) <= lastLoad && i < n;
  if (laneA) a.start(data, pos);

  // Marks are kept as 31-bit offsets from the start, so the bits left must fit them.
  if (laneA && spare && n - i >= kLanesMinValues && st.bitLimit - pos < (int64_t(1) << 31)) {
    const int64_t span = (st.bitLimit - pos) / Lanes;
    // All lanes run the same number of groups, about 1/Lanes of the values each, while
    // all can load.
    int64_t groups = (n - i) / (Lanes * Words);
    const int stride = Lanes + (Lanes - 1) * Words;
    if (((pos + (Lanes - 1) * span) >> 3) <= lastLoad && spareInts / (Lanes * Words + stride) >= groups) {
      const int64_t origin = pos;
      // Lane 0's raw words go straight to out[i ..] (1/Lanes of the room at most) and are
      // turned into values in place. The spare holds a copy of lane 0's words from its
      // first run on (a run writes ahead of the words it has not read yet), the other
      // lanes' words, and per group every lane's start and the other lanes' words as the
      // loop writes them (fewer base registers there); starts are kept as the low 32 bits
      // of the bit position.
      int* words = spare;
      int* groupData = spare + Lanes * groups * Words;
      BitLane lane[Lanes];
      lane[0] = a;
      for (int l = 1; l < Lanes; ++l) lane[l].start(data, pos + l * span);
      int* wordsA = out + i;
      int64_t ran = 0;
      while (ran < groups) {
        // A group takes at most 7 bytes from each lane: this many need no load check.
        int64_t ahead = lane[0].next;
        for (int l = 1; l < Lanes; ++l) ahead = lane[l].next > ahead ? lane[l].next : ahead;
        int64_t safe = (lastLoad - ahead) / 7;
        if (safe > groups - ran) safe = groups - ran;
        if (safe <= 0) break;
        for (const int64_t stop = ran + safe; ran < stop; ++ran) {
          int* d = groupData + ran * stride;
#pragma GCC unroll 4
          for (int l = 0; l < Lanes; ++l) {
            lane[l].refill(data);
            d[l] = static_cast<int>(static_cast<uint32_t>(lane[l].position()));
          }
#pragma GCC unroll 4
          for (int k = 0; k < Words; ++k) {
            wordsA[ran * Words + k] = splitWord<Primary>(lane[0], lengths, values, primary, primaryMask);
#pragma GCC unroll 4
            for (int l = 1; l < Lanes; ++l) {
              d[Lanes + (l - 1) * Words + k] = splitWord<Primary>(lane[l], lengths, values, primary, primaryMask);
            }
          }
        }
      }
      groups = ran;
      const int64_t count = groups * Words;
      for (int l = 1; l < Lanes; ++l) {
        int* to = words + l * count;
        for (int64_t g = 0; g < groups; ++g) {
          for (int k = 0; k < Words; ++k) to[g * Words + k] = groupData[g * stride + Lanes + (l - 1) * Words + k];
        }
      }
      const int* marks = groupData;
      a = lane[0];
      // count <= (n - i) / Lanes: lane 0's plain words cannot reach n.
      const int64_t plain = storePlain(wordsA, wordsA, count, base);
      i += plain;
      bool done = false;
      if (plain < count) {
        std::memcpy(words + plain, wordsA + plain, static_cast<size_t>(count - plain) * sizeof(int));
        done = !storeWords<Words>(st, fastEnd, words, plain, count, marks, stride, origin, out, i, n, base, ok, pos);
      }
      // Lane by lane: `a`, at the true position after the words stored so far, goes on a
      // word at a time until it stands on the start of one of the next lane's groups.
      for (int l = 1; l < Lanes && !done; ++l) {
        int64_t g = 0;
        while (g < groups && markedBit(origin, marks[g * stride + l]) < a.position()) ++g;
        const int64_t lastTry = g + kLaneSyncGroups;
        bool met = false;
        while (!done && a.next <= lastLoad) {
          while (g < groups && markedBit(origin, marks[g * stride + l]) < a.position()) ++g;
          if (g >= groups || g >= lastTry) break;
          if (markedBit(origin, marks[g * stride + l]) == a.position()) {
            met = true;
            break;
          }
          a.refill(data);
          const int32_t v = splitWord<Primary>(a, lengths, values, primary, primaryMask);
          if (!storeValue(v, out, i, n, base, ok) || i >= n) {
            pos = a.position();
            done = true;
          }
        }
        if (!met) break;
        done = !storeWords<Words>(st, fastEnd, words + l * count, g * Words, count, marks + l, stride, origin, out, i,
                                  n, base, ok, pos);
        a = lane[l];
      }
      if (done) return pos;
    }
  }

  if (laneA) {
    while (i < n && a.next <= lastLoad) {
      a.refill(data);
      for (int k = 0; k < Words; ++k) {
        const int32_t v = splitWord<Primary>(a, lengths, values, primary, primaryMask);
        if (v >= 0) {
          out[i++] = static_cast<int>(base + static_cast<uint32_t>(v));
        } else if (!storeValue(v, out, i, n, base, ok)) {
          return a.position();
        }
        if (i >= n) break;
      }
    }
    pos = a.position();
  }
  // The tail: bounded peeks, each word checked against the end of the stream.
  while (i < n) {
    const int32_t v = decodeSplitAt(st, fastEnd, pos);
    if (pos > st.bitLimit) {
      ok = false;
      return pos;
    }
    if (!storeValue(v, out, i, n, base, ok)) return pos;
  }
  return pos;
}

}  // namespace

bool DecodeAndExpand(EntropyCoder& st, int* out, int64_t n, int base, int64_t* produced, int* spare,
                     int64_t spareInts) {
  if (produced) *produced = 0;
  if (n <= 0) return n == 0 && !st.failed;
  if (!st.ready || st.failed || !out) {
    st.failed = true;
    return false;
  }
  const uint32_t ubase = static_cast<uint32_t>(base);
  const unsigned char* data = st.start;
  const int64_t bytes = st.availableBytes;
  const int64_t fastEnd = fastPeekEnd(bytes);
  const int64_t limit = st.bitLimit;
  int64_t pos = st.bitPos;
  int64_t i = 0;
  bool ok = true;

  if (!st.tableMode) {
    const int width = st.count;
    const uint32_t x = static_cast<uint32_t>(st.offset);
    const uint64_t mask = (uint64_t(1) << width) - 1;  // width <= 32
    // Below fastEnd a peek loads 8 bytes and a field (at most 32 bits) ends inside the
    // stream, so only the tail needs the end check.
    while (i < n && pos < fastEnd) {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(peekBits(data, bytes, fastEnd, pos) & mask) + x);
      pos += width;
      if (v >= 0) {
        out[i++] = static_cast<int>(ubase + static_cast<uint32_t>(v));
      } else if (!storeValue(v, out, i, n, ubase, ok)) {
        break;
      }
    }
    while (ok && i < n) {
      const uint64_t w = peekBits(data, bytes, fastEnd, pos);
      pos += width;
      if (pos > limit) {
        ok = false;
        break;
      }
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(lowBits(w, width)) + x);
      if (!storeValue(v, out, i, n, ubase, ok)) break;
    }
  } else {
    if (st.lengths) {
      if (st.primaryBits != kPrimaryBits) {
        pos = decodeSplit<0, 2, 2>(st, out, i, n, ubase, ok, spare, spareInts);
      } else if (st.longestWord <= kThreeWordBits) {
        pos = decodeSplit<kPrimaryBits, 3, 3>(st, out, i, n, ubase, ok, spare, spareInts);
      } else {
        pos = decodeSplit<kPrimaryBits, 2, 2>(st, out, i, n, ubase, ok, spare, spareInts);
      }
    } else {
      pos = decodeTable(st, out, i, n, ubase, ok);
    }
  }
  if (produced) *produced = i;
  if (!ok) {
    st.failed = true;
    st.bitPos = limit + 1;
    return false;
  }
  st.bitPos = pos;
  return true;
}

}  // namespace OSTUtils
