// Static prefix entropy coder for sequences of 32-bit integers.
//
// The encoder counts the distinct values, stores them with their counts in the stream and
// codes every value with a word from a code tree that both sides build from that table by
// repeatedly splitting the total count in two (CodeTree.h). When coding would not beat a
// plain fixed-width form, the fixed-width form is stored instead.
//
// Stream layout, read least significant bit first (bit 0 of byte 0 is the first bit; a
// w-bit field has its first bit as bit 0):
//   W        8   0 = table mode, 1..32 = fixed-width mode with W bits per value
//   X       32   table mode: number of table entries n; fixed-width mode: offset
//   offset  32   table mode only: added to every decoded symbol
//   rateBits 6   table mode only
//   symBits  6   table mode only
//   n entries    table mode only, rates falling:
//                  1 bit flag (1: a rate of rateBits bits follows, 0: same rate as the
//                  previous entry), then the symbol in symBits bits
//   values       one code word (table mode) or one W-bit field per value
// Decoded value = symbol + offset (or field + X), in 32-bit wrap-around arithmetic.
// The encoder always writes a whole number of 4-byte words.
//
// The decoder is bounded by the bytes it is given: a stream that runs out, W above 32, a
// table with zero or rising rates, a table that does not split, or a run value with no
// value before it sets `failed`; from then on every decode gives 0 and fails.
#pragma once

#include <cstdint>

#include "compress/CodeTree.h"
#include "ostutils/OstArray.h"

namespace OSTUtils {

// One coder state serves as encoder or decoder.
struct EntropyCoder {
  EntropyCoder() = default;
  EntropyCoder(const EntropyCoder&) = delete;
  EntropyCoder& operator=(const EntropyCoder&) = delete;
  ~EntropyCoder();

  int count = 0;   // W in fixed-width mode, n in table mode
  int offset = 0;  // table mode: added to every symbol; fixed-width mode: X
  CodeWord* val2code = nullptr;  // encoder: per symbol index, its word and length
  CodeEntry* srt = nullptr;      // the table: n entries of {symbol, rate}
  CodeNode* tree = nullptr;      // 2n nodes, node 0 the root (decoder: only for trees too deep for two lookups)
  int nextFree = 0;              // next free tree node

  // Bounded bit reader: the stream is start .. start + availableBytes, bitPos counts bits
  // read from start. bitPos may pass bitLimit only by reading past the end, which fails.
  const unsigned char* start = nullptr;
  int64_t availableBytes = 0;
  int64_t bitPos = 0;
  int64_t bitLimit = 0;
  bool tableMode = false;
  bool ready = false;   // InitDecoder succeeded
  bool failed = false;  // stream ran out or was invalid
  bool noMemory = false;  // InitDecoder failed for want of memory, not for the stream

  // Decoding table (CodeTree.h), a primary table over the next `primaryBits` bits and its
  // subtables, `tableEntries` entries in all, in one of two forms:
  //   two levels (lengths set): lengths[] and values[] per entry (BuildTwoLevelDecodeTable);
  //   chained (table set): table[] per entry and values[node] per leaf node, for trees
  //   too deep for two lookups.
  uint8_t* lengths = nullptr;
  uint32_t* table = nullptr;
  int32_t* values = nullptr;
  int primaryBits = 0;
  int longestWord = 0;  // two-level form: the longest word
  uint64_t tableEntries = 0;

  // Encoder state.
  uint32_t bitBuffer = 0;  // pending word
  int bitCount = 0;        // bits pending in bitBuffer
  int64_t outputLimit = 0;
  OstArray<char, int64_t>* output = nullptr;

  // Releases the table, tree, lookup table and code words.
  void release();
};

// Reads the header and table of a stream of availableBytes bytes and builds the decoding
// tables. False (with a message) for a bad header, a stream too short for its table, or
// an allocation failure; the state then decodes nothing.
bool InitDecoder(EntropyCoder& st, const unsigned char* data, int64_t availableBytes);

// One value. Sets st.failed (and gives 0) when the stream runs out or cannot be decoded.
int DecodeValue(EntropyCoder& st);
inline bool DecoderFailed(const EntropyCoder& st) { return st.failed; }

// Decodes into out[0 .. n-1], adding `base` to every plain value and expanding runs: a
// negative value -R repeats the previous output value R times. A run that would pass n is
// cut at n with the message "DecodeAndExpand - constant sequence longer than expected\n"
// and decoding stops (all n values are then written). True when all n values were
// produced; false when the stream failed first: out[0 .. *produced-1] then hold the values
// decoded before the stop and the rest of out[] is untouched.
//
// `spare` (spareInts integers, contents undefined afterwards) is scratch the decoder may
// use: with DecodeSpareInts(n) of them a long sequence is decoded as two or three
// interleaved chains, which is faster and gives the same result.
bool DecodeAndExpand(EntropyCoder& st, int* out, int64_t n, int base, int64_t* produced = nullptr, int* spare = nullptr,
                     int64_t spareInts = 0);
constexpr int64_t DecodeSpareInts(int64_t n) { return 5 * n / 2 + 8; }

// Folds repetitions in place: a value followed by R >= threshold equal values becomes the
// value and -R; shorter repetitions stay. Input must be non-negative. Returns the new length.
int64_t FoldRuns(int* values, int64_t length, int threshold);

// Appends the coded form of values[0 .. count-1] to `out`. Returns the number of bytes
// appended (a multiple of 4), 0 on allocation failure (with a message).
int64_t Encode(EntropyCoder& st, const int* values, int64_t count, OstArray<char, int64_t>& out);

}  // namespace OSTUtils
