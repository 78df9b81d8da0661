// The Ogawa container: a tree of groups and data blocks reached through absolute offsets.
//
// Header, bytes 0..15:
//   0..4   "Ogawa"
//   5      frozen flag: 0xFF once the writer closed the archive (0x00: never finished)
//   6..7   format version, uint16 BIG-endian, 1
//   8..15  uint64 LE offset of the root group
// Group at offset p: uint64 LE child count n, then n uint64 LE child entries.
// Data block at offset q: uint64 LE byte count s, then the s bytes.
// Child entry e:
//   top bit set    a data block at e & ~top bit; exactly 0x8000000000000000 is the empty
//                  data block (nothing stored)
//   top bit clear  a group at e; 0 is the empty group (no children, nothing stored)
// Offset 0 is the header, never a node, which keeps both empty forms unambiguous. Nothing
// is aligned, and offsets say nothing about structure: entries may point forwards,
// backwards, at a shared node or at an ancestor. Every count and offset is checked
// against the file size before use; the reader's allowance (CappedReader.h) bounds
// the reading of trees that point at the same nodes over and over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ostutils/MemoryLimit.h"
#include "plugins/f3dport/CappedReader.h"

namespace F3dPort {

struct OgawaGroup {
  uint64_t offset = 0;  // 0: the empty group
  uint64_t count = 0;
};

// A group's child entries, their storage held in the memory budget.
struct OgawaEntries {
  std::vector<uint64_t> values;
  OSTUtils::MemoryReservation hold;
};

struct OgawaData {
  uint64_t offset = 0;  // of the first byte; 0 with size 0 for the empty block
  uint64_t size = 0;
};

class OgawaArchive {
 public:
  static const uint64_t kDataBit = uint64_t(1) << 63;

  explicit OgawaArchive(CappedReader& source) : source_(source) {}

  // Whether the bytes start with the Ogawa magic (5 bytes are enough to tell).
  static bool hasMagic(const uint8_t* bytes, size_t size);

  // Checks the header and reads the root group. False with failure() set otherwise.
  bool open();
  const OgawaGroup& root() const { return root_; }

  static bool isData(uint64_t entry) { return (entry & kDataBit) != 0; }

  // The group an entry (top bit clear) points at.
  bool group(uint64_t entry, OgawaGroup& out);
  // Child entry `index` of a group.
  bool entry(const OgawaGroup& group, uint64_t index, uint64_t& out);
  // All child entries of a group.
  bool entries(const OgawaGroup& group, OgawaEntries& out);
  // The data block an entry (top bit set) points at.
  bool data(uint64_t entry, OgawaData& out);
  // Bytes [from, from + n) of a data block.
  bool readData(const OgawaData& block, uint64_t from, void* dst, uint64_t n);

  // What the last failed call found wrong, for reports.
  const std::string& failure() const { return failure_; }
  CappedReader& source() { return source_; }

 private:
  bool fail(const std::string& why);
  bool readU64(uint64_t offset, uint64_t& out);

  CappedReader& source_;
  OgawaGroup root_;
  std::string failure_;
};

}  // namespace F3dPort
