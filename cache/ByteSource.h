// Where the bytes of a nebu2 frame come from: a file, a block of memory, or a host's own
// read function (the C interface's read callbacks). The reader (NebFileReader) and the
// grid records left in place for slab reading (GridRecordBytes) read through it, so a frame
// from memory or from a host's I/O takes exactly the path a frame from a file takes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Length in bytes; -1 when it cannot be told.
  virtual int64_t length() = 0;
  // Exactly `bytes` bytes from `offset` into `out`: false when fewer arrive, the range lies
  // outside the source or the read fails. Safe to call from several threads at once.
  virtual bool readAt(int64_t offset, void* out, int64_t bytes) = 0;
};

// Bytes in memory that outlive the source.
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const void* data, int64_t bytes)
      : data_(static_cast<const unsigned char*>(data)), bytes_(data ? bytes : 0) {}
  int64_t length() override { return bytes_; }
  bool readAt(int64_t offset, void* out, int64_t bytes) override;

 private:
  const unsigned char* data_;
  int64_t bytes_;
};

// An open file. Reads are serialised; one that continues where the last ended does not
// seek, so the reader's stream of small reads keeps the stdio buffer.
class FileByteSource : public ByteSource {
 public:
  // `owned`: the source closes the file when destroyed.
  FileByteSource(FILE* file, bool owned) : file_(file), owned_(owned) {}
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;
  int64_t length() override;
  bool readAt(int64_t offset, void* out, int64_t bytes) override;

 private:
  FILE* file_;
  bool owned_;
  int64_t at_ = -1;  // the stream's position when known, else -1
  std::mutex lock_;
};
