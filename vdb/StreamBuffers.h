// The two output stream buffers of the OpenVDB file writer (VdbFileWriter).
//
// FileStreamBuf: a file written through one 4 MiB buffer. std::filebuf hands any write of
// 1 KiB or more straight to the system, and OpenVDB writes each leaf as one such write:
// 43,000 write calls for the 122 MB file of a 256^3 frame, about 0.15 s of system time on a
// virtual machine. Positions are the file's position at the start of the buffer plus what
// the buffer holds, so asking for the position costs no flush; a seek (Archive::writeGrid
// seeks back once per grid it writes to fill in its offsets) flushes first. A failed
// write or seek sets `failed` and makes every later operation fail, which the stream
// turns into its bad state.
//
// MemoryStreamBuf: appends to a byte vector; the position is the number of bytes held. It
// cannot seek: what is produced in memory is produced front to back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <streambuf>
#include <vector>

namespace NebVdb {

class FileStreamBuf : public std::streambuf {
 public:
  explicit FileStreamBuf(FILE* file);
  // Writes what is buffered; false once anything failed.
  bool flushBuffer();
  bool failed = false;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override;

 private:
  FILE* file_;
  std::vector<char> buffer_;
  int64_t at_ = 0;  // file position of the buffer's first byte
};

class MemoryStreamBuf : public std::streambuf {
 public:
  explicit MemoryStreamBuf(std::vector<char>& bytes) : bytes_(bytes) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override;

 private:
  std::vector<char>& bytes_;
};

}  // namespace NebVdb
