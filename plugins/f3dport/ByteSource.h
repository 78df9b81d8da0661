// Random-access reading of a whole file or of bytes in memory, for the Ogawa reader.
//
// Every read is bounds-checked against the size, and the total the source hands out is
// capped: an Ogawa tree whose offsets point many times at the same nodes (a group listing
// one child a million times, or an ancestor) would otherwise make a small file cost
// unbounded reading. A sound file reads each of its bytes about once, so four times the
// file size plus 1 MiB is the allowance; past it every read fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace F3dPort {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  uint64_t size() const { return size_; }
  // Copies n bytes from offset. False when they lie outside the source, when the
  // allowance is spent (exhausted() then says so) or the system read fails.
  bool read(uint64_t offset, void* dst, uint64_t n);
  bool exhausted() const { return exhausted_; }

 protected:
  void setSize(uint64_t size);
  virtual bool readAt(uint64_t offset, void* dst, uint64_t n) = 0;

 private:
  uint64_t size_ = 0;
  uint64_t allowance_ = 0;
  bool exhausted_ = false;
};

class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size);

 private:
  bool readAt(uint64_t offset, void* dst, uint64_t n) override;
  const uint8_t* data_;
};

// Reads a file through one cached window of 64 KiB: the tree's nodes are small and close
// together, and a seek per node would make the system read a buffer for every few bytes.
class FileByteSource : public ByteSource {
 public:
  FileByteSource() = default;
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  // Opens a file by UTF-8 path; false when it cannot be opened or sized.
  bool open(const char* path);

 private:
  bool readAt(uint64_t offset, void* dst, uint64_t n) override;
  bool readFile(uint64_t offset, void* dst, uint64_t n);

  static const uint64_t kWindowBytes = 64 * 1024;
  FILE* file_ = nullptr;
  uint8_t window_[kWindowBytes];
  uint64_t windowStart_ = 0;
  uint64_t windowBytes_ = 0;  // 0: nothing cached
};

}  // namespace F3dPort
