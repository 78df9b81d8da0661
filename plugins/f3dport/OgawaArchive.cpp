#include "plugins/f3dport/OgawaArchive.h"

#include <cstring>

#include "plugins/f3dport/LittleEndian.h"

namespace F3dPort {

namespace {
const uint8_t kMagic[5] = {'O', 'g', 'a', 'w', 'a'};
const uint64_t kHeaderBytes = 16;
}  // namespace

bool OgawaArchive::hasMagic(const uint8_t* bytes, size_t size) {
  return size >= sizeof kMagic && std::memcmp(bytes, kMagic, sizeof kMagic) == 0;
}

bool OgawaArchive::fail(const std::string& why) {
  failure_ = source_.exhausted() ? "its tree refers to the same nodes more often than a sound file could" : why;
  return false;
}

bool OgawaArchive::readU64(uint64_t offset, uint64_t& out) {
  uint8_t b[8];
  if (!source_.read(offset, b, 8)) return false;
  out = loadU64(b);
  return true;
}

bool OgawaArchive::open() {
  uint8_t header[kHeaderBytes];
  if (!source_.read(0, header, kHeaderBytes)) return fail("it is shorter than the 16-byte Ogawa header");
  if (!hasMagic(header, kHeaderBytes)) return fail("it does not start with \"Ogawa\"");
  if (header[5] != 0xFF) return fail("its writer never finished it (the Ogawa frozen flag is not set)");
  const unsigned version = unsigned(header[6]) << 8 | header[7];
  if (version != 1) return fail("its Ogawa format version is " + std::to_string(version) + ", not 1");
  const uint64_t rootEntry = loadU64(header + 8);
  if (rootEntry == 0 || isData(rootEntry)) return fail("its root offset does not name a group");
  if (!group(rootEntry, root_)) return false;
  return true;
}

bool OgawaArchive::group(uint64_t entry, OgawaGroup& out) {
  out = OgawaGroup();
  if (isData(entry)) return fail("a data block stands where a group belongs");
  if (entry == 0) return true;  // the empty group
  const uint64_t size = source_.size();
  if (entry < kHeaderBytes || entry > size || size - entry < 8)
    return fail("a group offset lies outside the file");
  uint64_t n = 0;
  if (!readU64(entry, n)) return fail("a group cannot be read");
  if (n > (size - entry - 8) / 8) return fail("a group claims more children than the file holds");
  out.offset = entry;
  out.count = n;
  return true;
}

bool OgawaArchive::entry(const OgawaGroup& group, uint64_t index, uint64_t& out) {
  if (index >= group.count) return fail("a child is missing");
  if (!readU64(group.offset + 8 + 8 * index, out)) return fail("a child entry cannot be read");
  return true;
}

bool OgawaArchive::entries(const OgawaGroup& group, OgawaEntries& out) {
  out.values.clear();
  out.hold.release();
  if (group.count == 0) return true;
  // The count fits the file (group() checked it), so this is at most the file's size.
  if (!out.hold.reserve(group.count * 8)) return fail("no memory for a group's child list");
  out.values.resize(static_cast<size_t>(group.count));
  uint8_t* raw = reinterpret_cast<uint8_t*>(out.values.data());
  if (!source_.read(group.offset + 8, raw, group.count * 8)) return fail("a group's child list cannot be read");
  for (uint64_t& v : out.values) v = loadU64(reinterpret_cast<const uint8_t*>(&v));
  return true;
}

bool OgawaArchive::data(uint64_t entry, OgawaData& out) {
  out = OgawaData();
  if (!isData(entry)) return fail("a group stands where a data block belongs");
  const uint64_t at = entry & ~kDataBit;
  if (at == 0) return true;  // the empty data block
  const uint64_t size = source_.size();
  if (at < kHeaderBytes || at > size || size - at < 8) return fail("a data offset lies outside the file");
  uint64_t n = 0;
  if (!readU64(at, n)) return fail("a data block cannot be read");
  if (n > size - at - 8) return fail("a data block runs past the end of the file");
  out.offset = at + 8;
  out.size = n;
  return true;
}

bool OgawaArchive::readData(const OgawaData& block, uint64_t from, void* dst, uint64_t n) {
  if (from > block.size || n > block.size - from) return fail("a read runs past the end of its data block");
  if (n == 0) return true;
  if (!source_.read(block.offset + from, dst, n)) return fail("a data block cannot be read");
  return true;
}

}  // namespace F3dPort
