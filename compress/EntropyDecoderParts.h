// Pieces of the entropy decoder shared by its parts (internal): the bounded bit reader
// and the bit lane of the fast loops, the word lookups, the storing of a decoded value,
// and the table-mode loops. The parts: EntropyDecoderTables.cpp reads the header and
// table of a stream and builds the decoding tables (InitDecoder); EntropyDecode.cpp holds
// the decode forms (DecodeValue, DecodeAndExpand with its fixed-width loop); and
// EntropyLanes.cpp the table-mode loops over bit lanes.
#pragma once

#include <cstdint>
#include <cstring>

#include "compress/BitReader.h"
#include "compress/CodeTree.h"
#include "compress/EntropyCoder.h"
#include "zutils/Report.h"

namespace OSTUtils {
namespace entropy {

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

// Table-mode decoding of out[i .. n-1] from st.bitPos, through the two-level form when
// st.lengths is set and the chained form otherwise (EntropyLanes.cpp); advances i and
// returns the bit position reached. `ok` turns false when the stream fails; `spare` is
// the scratch DecodeAndExpand was given.
int64_t DecodeTableMode(const EntropyCoder& st, int* out, int64_t& i, int64_t n, uint32_t base, bool& ok, int* spare,
                        int64_t spareInts);

}  // namespace entropy
}  // namespace OSTUtils
