// A cheap look at an HDF5 file's superblock before libhdf5 is given the file.
//
// libhdf5 is not hardened against damaged files. What can be checked without it is checked
// here: the signature at offset 0 (Field3D never writes a user block), a known superblock
// version, sizes of offsets and lengths of 2, 4 or 8 bytes, a base address of 0, an
// end-of-file address within the file (a truncated copy fails here), a root object header
// inside it, and for versions 2 and 3 the superblock's checksum (Jenkins' lookup3 over the
// bytes before it). Versions 0 and 1 must not name a driver information block (the
// family, multi and split drivers spread a file over several files).
//
// Superblock version 0 / 1, after the 8-byte signature:
//   8  version    9  free-space version   10 root group symbol table version
//   11 reserved   12 shared header version 13 size of offsets (O)  14 size of lengths (L)
//   15 reserved   16 group leaf K (2)      18 group internal K (2) 20 consistency flags (4)
//   version 1 only: 24 indexed storage K (2), 26 reserved (2)
//   then base address, free-space address, end-of-file address, driver info address (O
//   each), and the root group's symbol table entry: link name offset (O), object header
//   address (O), ...
// Superblock version 2 / 3:
//   8 version  9 size of offsets (O)  10 size of lengths  11 consistency flags
//   12 base address, superblock extension address, end-of-file address, root object
//   header address (O each), then the 4-byte checksum.
// "Undefined" addresses are all ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace F3dPort {

// Bytes of the file's head that checkHdf5Superblock needs at most.
const size_t kHdf5SuperblockBytes = 128;

// `head` holds the first min(kHdf5SuperblockBytes, fileSize) bytes. Empty when the
// superblock passes, else the reason.
std::string checkHdf5Superblock(const uint8_t* head, size_t headSize, uint64_t fileSize);

// Jenkins' lookup3 "hashlittle" of `size` bytes with initial value `init`: HDF5's metadata
// checksum.
uint32_t lookup3(const uint8_t* data, size_t size, uint32_t init);

}  // namespace F3dPort
