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
// for the words that are longer. Every entry is 64 bits:
//   bits  0..31  leaf: the decoded value (symbol + offset, wrapped)
//                link: index of the subtable in the same array
//   bits 32..39  bits this lookup consumes (leaf: what is left of the word; link: the
//                width of the table the entry lies in)
//   bits 40..47  link only: the subtable's width
//   bit  63      link
// A subtable covers the tree below one node at the table's edge and is as wide as that
// part of the tree is deep, but at most `subtableBits` wide; deeper parts chain into
// further subtables. With subtableBits 16 and a primary width of at most 12, every word
// of up to 28 bits decodes with at most two lookups.
const uint64_t kDecodeLink = uint64_t(1) << 63;
inline uint64_t decodeLeaf(int32_t value, int length) {
  return static_cast<uint32_t>(value) | (static_cast<uint64_t>(length) << 32);
}
inline int decodeEntryBits(uint64_t e) { return static_cast<int>((e >> 32) & 0xFF); }
inline int decodeSubtableBits(uint64_t e) { return static_cast<int>((e >> 40) & 0xFF); }

struct DecodeTableLayout {
  int primaryBits = 0;
  int subtableBits = 0;
  uint64_t entries = 0;  // primary and all subtables
};

// Chooses the table widths for the tree of `nodes` nodes (built by BuildCodeTree, whose
// deepest leaf is at maxDepth): primary width min(maxDepth, primaryLimit), subtables as
// wide as allowed while the whole table stays within `entryCap` entries (narrower
// subtables chain more often but never exceed the cap when it is at least
// 2^primaryBits + 2 * nodes). `heights` receives every node's height (room for `nodes`).
// False when even the narrowest layout passes the cap.
bool PlanDecodeTable(const CodeNode* tree, int nodes, int maxDepth, int primaryLimit, uint64_t entryCap,
                     int* heights, DecodeTableLayout& layout);

// Fills table[0 .. layout.entries - 1]; `offset` is added to every symbol.
void BuildDecodeTable(const CodeNode* tree, const int* heights, int offset, const DecodeTableLayout& layout,
                      uint64_t* table);

// Builds the tree into `tree` (room for 2n nodes) from srt[0 .. n-1] whose rates sum to
// `total`. When `words` is given, words[symbol] receives each leaf's code word (symbols
// must then be valid indexes of `words`). `maxDepth` receives the deepest leaf. False when
// a part does not split (a zero or rising rate), or when a word would exceed 64 bits and
// `words` is given.
bool BuildCodeTree(const CodeEntry* srt, int n, uint64_t total, CodeNode* tree, int& nextFree, CodeWord* words,
                   int& maxDepth);


}  // namespace OSTUtils
