#include "compress/InflateStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "zutils/Report.h"

namespace OSTUtils {

namespace {

// Compressed bytes fed to zlib at a time, and the most output asked of one inflate call
// (zlib counts in 32 bits).
const int64_t kInputPiece = 1 << 20;
const int64_t kOutputPiece = 1 << 30;

}  // namespace

struct InflateStream::State {
  z_stream zs;
  bool live = false;
};

InflateStream::InflateStream() : state_(new State) { std::memset(&state_->zs, 0, sizeof state_->zs); }

InflateStream::~InflateStream() {
  if (state_->live) inflateEnd(&state_->zs);
  delete state_;
}

bool InflateStream::fail(int code) {
  ZUtils::logReport("[ERROR] Decompressing Zip (%d)\n", code);
  failed_ = true;
  return false;
}

bool InflateStream::open(Source source, int64_t compressedLength, int64_t capacity) {
  if (state_->live) inflateEnd(&state_->zs);
  std::memset(&state_->zs, 0, sizeof state_->zs);
  state_->live = false;
  source_ = std::move(source);
  compressedLength_ = compressedLength;
  capacity_ = capacity;
  fed_ = position_ = 0;
  ended_ = failed_ = progress_ = false;
  if (compressedLength < 0 || capacity < 0 || !source_) return fail(Z_BUF_ERROR);
  if (inflateInit(&state_->zs) != Z_OK) return fail(Z_MEM_ERROR);
  state_->live = true;
  return true;
}

// One inflate call into (to, room). 1: went on, 0: the stream ended, -1: failed (reported).
int InflateStream::step(unsigned char* to, int64_t room, int64_t* made) {
  z_stream& zs = state_->zs;
  if (zs.avail_in == 0 && fed_ < compressedLength_) {
    const int64_t piece = std::min(kInputPiece, compressedLength_ - fed_);
    const unsigned char* in = source_(fed_, piece);
    if (!in) {
      fail(Z_DATA_ERROR);
      return -1;
    }
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(piece);
    fed_ += piece;
  }
  zs.next_out = to;
  zs.avail_out = static_cast<uInt>(room);
  const uInt inBefore = zs.avail_in;
  const int rc = inflate(&zs, Z_NO_FLUSH);
  *made = room - zs.avail_out;
  const bool moved = *made > 0 || zs.avail_in != inBefore;
  progress_ = progress_ || moved;
  if (rc == Z_STREAM_END) {
    ended_ = true;
    return 0;
  }
  if (rc != Z_OK && rc != Z_BUF_ERROR) {
    fail(rc);
    return -1;
  }
  // Stuck with input in hand, or out of input before the stream ends.
  if (!moved && (zs.avail_in > 0 || fed_ >= compressedLength_)) {
    fail(progress_ ? Z_OK : Z_BUF_ERROR);
    return -1;
  }
  return 1;
}

// Up to `count` bytes into `to`, fewer when the stream ends first.
bool InflateStream::inflateUpTo(unsigned char* to, int64_t count, int64_t* made) {
  *made = 0;
  while (*made < count && !ended_) {
    int64_t piece = 0;
    if (step(to + *made, std::min(count - *made, kOutputPiece), &piece) < 0) return false;
    *made += piece;
  }
  return true;
}

bool InflateStream::read(void* out, int64_t count) {
  if (failed_ || !state_->live || count < 0 || count > capacity_ - position_ || (count > 0 && !out)) {
    if (!failed_) ZUtils::logReport("[ERROR] Inflating past the end of a zip block\n");
    return false;
  }
  unsigned char* to = static_cast<unsigned char*>(out);
  int64_t made = 0;
  if (!inflateUpTo(to, count, &made)) return false;
  if (made < count) std::memset(to + made, 0, static_cast<size_t>(count - made));  // past the end of the stream
  position_ += count;
  if (position_ == capacity_) return finish();
  return true;
}

bool InflateStream::readRest(void* out, int64_t* made) {
  *made = 0;
  const int64_t count = capacity_ - position_;
  if (failed_ || !state_->live || (count > 0 && !out)) {
    if (!failed_) ZUtils::logReport("[ERROR] Inflating past the end of a zip block\n");
    return false;
  }
  if (!inflateUpTo(static_cast<unsigned char*>(out), count, made)) return false;
  position_ += *made;
  return finish();
}

// At the capacity: the stream must end here. The rest of the input goes to zlib without
// room for output, as a single call over the whole buffers would end: at the stream's end,
// at damage found before another byte would be written, or stuck wanting room (Z_OK).
bool InflateStream::finish() {
  while (!ended_) {
    unsigned char none = 0;  // zlib wants an output pointer even for no room
    int64_t made = 0;
    if (step(&none, 0, &made) < 0) return false;
  }
  inflateEnd(&state_->zs);
  state_->live = false;
  return true;
}

}  // namespace OSTUtils
