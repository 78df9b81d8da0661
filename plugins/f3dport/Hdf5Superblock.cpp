#include "plugins/f3dport/Hdf5Superblock.h"

#include <cstring>

#include "plugins/f3dport/LittleEndian.h"

namespace F3dPort {

namespace {

const uint8_t kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};

uint32_t rot(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

void mix(uint32_t& a, uint32_t& b, uint32_t& c) {
  a -= c; a ^= rot(c, 4);  c += b;
  b -= a; b ^= rot(a, 6);  a += c;
  c -= b; c ^= rot(b, 8);  b += a;
  a -= c; a ^= rot(c, 16); c += b;
  b -= a; b ^= rot(a, 19); a += c;
  c -= b; c ^= rot(b, 4);  b += a;
}

void finalMix(uint32_t& a, uint32_t& b, uint32_t& c) {
  c ^= b; c -= rot(b, 14);
  a ^= c; a -= rot(c, 11);
  b ^= a; b -= rot(a, 25);
  c ^= b; c -= rot(b, 16);
  a ^= c; a -= rot(c, 4);
  b ^= a; b -= rot(a, 14);
  c ^= b; c -= rot(b, 24);
}

// An address of `bytes` bytes (2, 4 or 8), little-endian; all ones is "undefined".
uint64_t address(const uint8_t* p, int bytes, bool& undefined) {
  uint64_t v = 0;
  undefined = true;
  for (int i = 0; i < bytes; ++i) {
    v |= uint64_t(p[i]) << (8 * i);
    if (p[i] != 0xFF) undefined = false;
  }
  return v;
}

}  // namespace

uint32_t lookup3(const uint8_t* k, size_t length, uint32_t init) {
  uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<uint32_t>(length) + init;
  while (length > 12) {
    a += loadU32(k);
    b += loadU32(k + 4);
    c += loadU32(k + 8);
    mix(a, b, c);
    length -= 12;
    k += 12;
  }
  if (length == 0) return c;
  uint8_t tail[12] = {};
  std::memcpy(tail, k, length);
  a += loadU32(tail);
  b += loadU32(tail + 4);
  c += loadU32(tail + 8);
  finalMix(a, b, c);
  return c;
}

std::string checkHdf5Superblock(const uint8_t* head, size_t size, uint64_t fileSize) {
  if (size < 12 || std::memcmp(head, kSignature, 8) != 0) return "it does not start with the HDF5 signature";
  const int version = head[8];
  if (version > 3) return "its superblock version " + std::to_string(version) + " is unknown";
  const int offsets = version >= 2 ? head[9] : (size > 13 ? head[13] : 0);
  const int lengths = version >= 2 ? head[10] : (size > 14 ? head[14] : 0);
  if ((offsets != 2 && offsets != 4 && offsets != 8) || (lengths != 2 && lengths != 4 && lengths != 8))
    return "its superblock gives sizes of offsets and lengths other than 2, 4 or 8 bytes";
  const size_t addresses = version >= 2 ? 12 : (version == 1 ? 28 : 24);
  // Addresses: base, free-space or extension, end of file, driver info or root header.
  const size_t end = addresses + 4 * size_t(offsets) + (version >= 2 ? 4 : 2 * size_t(offsets));
  if (size < end) return "it is shorter than its superblock";
  bool undefined[4];
  uint64_t a[4];
  for (int i = 0; i < 4; ++i) a[i] = address(head + addresses + i * offsets, offsets, undefined[i]);
  uint64_t root;
  bool rootUndefined;
  if (version >= 2) {
    const size_t sum = addresses + 4 * size_t(offsets);
    if (lookup3(head, sum, 0) != loadU32(head + sum)) return "its superblock checksum does not match";
    root = a[3];
    rootUndefined = undefined[3];
  } else {
    if (loadU16(head + 16) == 0 || loadU16(head + 18) == 0) return "its superblock gives a B-tree rank of 0";
    if (!undefined[3]) return "its superblock names a driver information block (a file spread over several files)";
    root = address(head + addresses + 5 * offsets, offsets, rootUndefined);
  }
  if (undefined[0] || a[0] != 0) return "it has a user block or a base address other than 0";
  if (undefined[2] || a[2] > fileSize)
    return "its superblock says the file ends at byte " + std::to_string(a[2]) + ", but it has " +
           std::to_string(fileSize) + " bytes (a truncated copy?)";
  if (rootUndefined || root >= a[2]) return "its root group lies outside the file";
  return std::string();
}

}  // namespace F3dPort
