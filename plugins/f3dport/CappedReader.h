// Random-access reading of an Ogawa file for the container reader, over the library's byte
// sources (cache/ByteSource.h: a file, or bytes in memory for the fuzz target).
//
// Every read is bounds-checked against the size, and the total the reader hands out is
// capped: an Ogawa tree whose offsets point many times at the same nodes (a group listing
// one child a million times, or an ancestor) would otherwise make a small file cost
// unbounded reading. A sound file reads each of its bytes about once, so four times the
// file size plus 1 MiB is the allowance; past it every read fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "cache/ByteSource.h"

namespace F3dPort {

class CappedReader {
 public:
  // A file by UTF-8 path; nullptr when it cannot be opened or sized. Small reads go through
  // one cached window of 64 KiB: the tree's nodes are small and close together, and a seek
  // per node would make the system read a buffer for every few bytes.
  static std::unique_ptr<CappedReader> openFile(const char* path);
  // Bytes in memory that outlive the reader, read in place.
  static std::unique_ptr<CappedReader> inMemory(const uint8_t* data, size_t size);

  uint64_t size() const { return size_; }
  // Copies n bytes from offset. False when they lie outside the source, when the
  // allowance is spent (exhausted() then says so) or the system read fails.
  bool read(uint64_t offset, void* dst, uint64_t n);
  bool exhausted() const { return exhausted_; }

 private:
  CappedReader(std::unique_ptr<::ByteSource> source, uint64_t size, bool windowed);
  bool readWindowed(uint64_t offset, void* dst, uint64_t n);

  static const uint64_t kWindowBytes = 64 * 1024;
  std::unique_ptr<::ByteSource> source_;
  uint64_t size_;
  uint64_t allowance_;
  bool exhausted_ = false;
  std::unique_ptr<uint8_t[]> window_;  // null: reads go straight to the source
  uint64_t windowStart_ = 0;
  uint64_t windowBytes_ = 0;  // 0: nothing cached
};

}  // namespace F3dPort
