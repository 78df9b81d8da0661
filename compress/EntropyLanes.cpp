// The table-mode loops of the entropy decoder: words read from 64-bit bit lanes, one lane
// or several at once (see decodeSplit), for both forms of the decoding table.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "compress/EntropyDecoderParts.h"

namespace OSTUtils {
namespace entropy {

namespace {

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

int64_t DecodeTableMode(const EntropyCoder& st, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok, int* spare,
                        int64_t spareInts) {
  if (!st.lengths) return decodeTable(st, out, i, n, base, ok);
  if (st.primaryBits != kPrimaryBits) return decodeSplit<0, 2, 2>(st, out, i, n, base, ok, spare, spareInts);
  if (st.longestWord <= kThreeWordBits) return decodeSplit<kPrimaryBits, 3, 3>(st, out, i, n, base, ok, spare, spareInts);
  return decodeSplit<kPrimaryBits, 2, 2>(st, out, i, n, base, ok, spare, spareInts);
}

}  // namespace entropy
}  // namespace OSTUtils
