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

// Decoding lookup over the next `bits` stream bits. A leaf entry (length >= 0) gives the
// decoded value (symbol + offset, already wrapped) and its code length; for a word longer
// than the table width, length is -1 and value is the tree node reached after `bits` bits.
struct LutEntry {
  int32_t value;
  int32_t length;
};

// Builds the tree into `tree` (room for 2n nodes) from srt[0 .. n-1] whose rates sum to
// `total`. When `words` is given, words[symbol] receives each leaf's code word (symbols
// must then be valid indexes of `words`). `maxDepth` receives the deepest leaf. False when
// a part does not split (a zero or rising rate), or when a word would exceed 64 bits and
// `words` is given.
bool BuildCodeTree(const CodeEntry* srt, int n, uint64_t total, CodeNode* tree, int& nextFree, CodeWord* words,
                   int& maxDepth);

// Fills lut[0 .. (1 << bits) - 1] from the tree; `offset` is added to every symbol.
void BuildLookupTable(const CodeNode* tree, int offset, int bits, LutEntry* lut);

}  // namespace OSTUtils
