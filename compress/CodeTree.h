// The code tree of the entropy coder, shared by encoder and decoder, and the decoder's
// lookup table.
//
// The tree is built from the table in stored order (rates falling) by splitting the total
// count in two: with half = total / 2 (truncating), entries are taken in order while the
// running sum S stays below half; the entry that makes the sum reach half joins the left
// part when (S + rate) - half <= half - S. The left part goes under child 0 (bit 0), the
// rest under child 1 (bit 1), recursively. Bit `depth` of a code word is the branch taken
// at that depth, so words are sent least significant bit first. One entry gives a leaf
// root whose values take no bits.
#pragma once

#include <cstdint>

namespace OSTUtils {

struct CodeEntry {
  int symbol;
  int rate;
};

// child0 == 0 marks a leaf (node 0 is the root and never a child).
struct CodeNode {
  int symbol;
  int child0;
  int child1;
};

struct CodeWord {
  uint64_t code;
  int length;  // 0 for the lone leaf of a one-entry table
};

// Decoding table: a primary table over the next `primaryBits` stream bits, and subtables
// for the words that are longer. Entries are 32 bits, so that the primary table of a
// dense stream stays in the first-level cache:
//   bits 0..5   leaf: the word length (see below); link: the subtable's width
//   bit  6      link
//   bit  7      leaf: the value is values[bits 8..31] (it does not fit 24 bits)
//   bits 8..31  leaf: the decoded value (symbol + offset, wrapped), as a signed 24-bit
//               number, or (bit 7 set) the index of the value in a side array;
//               link: index of the subtable in the same array
// A subtable covers the tree below one node at its table's edge and is as wide as that
// part of the tree is deep, but at most `subtableBits` wide; deeper parts chain into
// further subtables. Leaves of the primary table and of the subtables it links to hold
// the whole word length; leaves further down (third lookup on) hold the bits after their
// own table's start. With primaryBits + subtableBits <= 28 every word of up to 28 bits
// decodes with at most two lookups.
const uint32_t kDecodeLink = 0x40;
const uint32_t kDecodeFarValue = 0x80;
const int kDecodeIndexShift = 8;
const uint64_t kDecodeMaxIndex = (uint64_t(1) << 24) - 1;
inline int decodeEntryBits(uint32_t e) { return static_cast<int>(e & 63); }
inline uint32_t decodeEntryIndex(uint32_t e) { return e >> kDecodeIndexShift; }
inline int32_t decodeEntryValue(uint32_t e, const int32_t* values) {
  return (e & kDecodeFarValue) ? values[e >> kDecodeIndexShift] : static_cast<int32_t>(e) >> kDecodeIndexShift;
}

struct DecodeTableLayout {
  int primaryBits = 0;
  int subtableBits = 0;
  int longestWord = 0;   // BuildTwoLevelDecodeTable only
  uint64_t entries = 0;  // primary and all subtables
};

// Builds the tree into `tree` (room for 2n nodes) from srt[0 .. n-1] whose rates sum to
// `total`. When `words` is given, words[symbol] receives each leaf's code word (symbols
// must then be valid indexes of `words`). `maxDepth` receives the deepest leaf. False when
// a part does not split (a zero or rising rate), when a word would exceed 64 bits and
// `words` is given, or when the splitting scratch could not be allocated (then
// *noMemory, when given, is set: the table itself may be sound).
bool BuildCodeTree(const CodeEntry* srt, int n, uint64_t total, CodeNode* tree, int& nextFree, CodeWord* words,
                   int& maxDepth, bool* noMemory = nullptr);

// For trees too deep for two lookups. Chooses the table widths for the tree of `nodes`
// nodes (built by BuildCodeTree, whose deepest leaf is at maxDepth): primary width
// min(maxDepth, primaryLimit), subtables at most subtableLimit wide and narrower when
// needed to keep the whole table within `entryCap` entries (a cap of at least
// 2^primaryBits + 2 * nodes always fits). `heights` receives every node's height (room
// for `nodes`). False when even the narrowest layout passes the cap or the node indexes
// do not fit an entry.
bool PlanDecodeTable(const CodeNode* tree, int nodes, int maxDepth, int primaryLimit, int subtableLimit,
                     uint64_t entryCap, int* heights, DecodeTableLayout& layout);

// Fills table[0 .. layout.entries - 1] and values[node] of every leaf by walking the tree,
// chaining subtables as deep as needed; `offset` is added to every symbol.
void BuildDecodeTable(const CodeNode* tree, const int* heights, int offset, const DecodeTableLayout& layout,
                      uint32_t* table, int32_t* values);

// The decoder's usual route, a two-level table built straight from the split, without a
// tree. It comes as two arrays over the same entries, so that the serial part of decoding
// (peek, look up the length, shift) reads only bytes and the length table of a dense
// stream stays in the first-level cache; the values are read off that chain:
//   lengths[e]  leaf: the whole word length (0 for the lone leaf of a one-entry table);
//               link: kSplitLink | the subtable's width
//   values[e]   leaf: the decoded value (symbol + offset, wrapped); link: the index of the
//               subtable's first entry
// Entries 0 .. 2^primaryBits - 1 are the primary table over the next primaryBits bits;
// each subtable covers the bits after them for one primary slot. Allocates `lengths` and
// `values` (layout.entries entries each). 1 on success; 0 when some word is longer than
// primaryLimit + subtableLimit or the table would pass entryCap (build the tree and chain
// instead); -1 for a table without a usable split or a failed allocation. Whatever it
// returns, the caller owns (and frees) `lengths` and `values`.
const uint8_t kSplitLink = 0x80;
int BuildTwoLevelDecodeTable(const CodeEntry* srt, int n, uint64_t total, int offset, int primaryLimit,
                             int subtableLimit, uint64_t entryCap, uint8_t*& lengths, int32_t*& values,
                             DecodeTableLayout& layout);

}  // namespace OSTUtils
