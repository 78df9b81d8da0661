#include "vdb/VdbFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <vector>

#include <openvdb/io/Archive.h>

#include "zutils/platform/File.h"

namespace VolConvert {

namespace {

constexpr size_t kBufferBytes = size_t(4) << 20;

// io::File::write is this archive write on a std::ofstream; Archive keeps it protected.
class SeekableArchive : public openvdb::io::Archive {
 public:
  void writeTo(std::ostream& os, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata) const {
    Archive::write(os, grids, /*seekable=*/true, metadata);
  }
};

// An output stream buffer that buffers every write. std::filebuf hands any write of 1 KiB
// or more straight to the system, and OpenVDB writes each leaf as one such write.
// The archive seeks back once per grid to fill in its offsets; positions are the file's
// position at the start of the buffer plus what the buffer holds, so asking for the
// position costs no flush. A failed write or seek sets `failed` and makes every later
// operation fail, which the stream turns into its bad state.
class BufferedFileBuf : public std::streambuf {
 public:
  explicit BufferedFileBuf(FILE* file) : file_(file), buffer_(kBufferBytes) {
    std::setvbuf(file_, nullptr, _IONBF, 0);  // this buffer is the only one
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  // Writes what is buffered; false once anything failed.
  bool flushBuffer() {
    const size_t n = static_cast<size_t>(pptr() - pbase());
    if (n > 0 && !failed && std::fwrite(pbase(), 1, n, file_) != n) failed = true;
    at_ += static_cast<int64_t>(n);
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return !failed;
  }
  bool failed = false;

 protected:
  int_type overflow(int_type c) override {
    if (!flushBuffer()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize done = 0;
    while (done < n) {
      if (pptr() == epptr() && !flushBuffer()) break;
      const std::streamsize room = epptr() - pptr();
      const std::streamsize part = n - done < room ? n - done : room;
      std::memcpy(pptr(), s + done, static_cast<size_t>(part));
      pbump(static_cast<int>(part));  // at most the buffer's 4 MiB
      done += part;
    }
    return done;
  }
  int sync() override { return flushBuffer() ? 0 : -1; }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (failed) return pos_type(off_type(-1));
    if (dir == std::ios_base::cur && off == 0) return pos_type(at_ + (pptr() - pbase()));
    if (!flushBuffer()) return pos_type(off_type(-1));
    const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
    if (!ZUtils::platform::seekFile(file_, off, whence) || (at_ = ZUtils::platform::tellFile(file_)) < 0) {
      failed = true;
      return pos_type(off_type(-1));
    }
    return pos_type(at_);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override {
    return seekoff(off_type(pos), std::ios_base::beg, mode);
  }

 private:
  FILE* file_;
  std::vector<char> buffer_;
  int64_t at_ = 0;  // file position of the buffer's first byte
};

[[noreturn]] void fail(const char* what, const std::string& path, int why) {
  OPENVDB_THROW(openvdb::IoError, what << " " << path << (why ? std::string(": ") + std::strerror(why) : std::string()));
}

}  // namespace

void writeVdbFile(const std::string& path, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& metadata,
                  uint32_t compression) {
  SeekableArchive archive;
  if (compression != kLibraryCompression) archive.setCompression(compression);
  errno = 0;
  FILE* file = ZUtils::platform::openFile(path.c_str(), "wb");
  if (!file) fail("could not open", path, errno);
  struct Closer {
    FILE* f;
    ~Closer() {
      if (f) std::fclose(f);
    }
  } closer{file};
  BufferedFileBuf buffer(file);
  std::ostream os(&buffer);
  archive.writeTo(os, grids, metadata);
  errno = 0;
  const bool written = buffer.flushBuffer() && os.good();
  const int why = errno;
  closer.f = nullptr;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) fail("could not write", path, written ? errno : why);
}

}  // namespace VolConvert
