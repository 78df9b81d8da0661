#include "cache/GridRecordBytes.h"

#include <algorithm>
#include <cstring>

#include "zutils/FileAccess.h"
#include "zutils/Report.h"

GridRecordBytes::GridRecordBytes(const int32_t* data, int64_t ints)
    : memory_(reinterpret_cast<const unsigned char*>(data)), ints_(data && ints > 0 ? ints : 0) {}

GridRecordBytes::~GridRecordBytes() = default;

bool GridRecordBytes::openFile(const GridDataLocation& where) {
  source_.reset();
  memory_ = nullptr;
  ints_ = 0;
  if (where.offset < 0 || where.ints <= 0) return true;  // no records: every channel is absent
  std::shared_ptr<ByteSource> source = where.source;
  if (!source) {
    FILE* f = ZUtils::openFileUtf8(where.path.c_str(), "rb");
    if (f) source = std::make_shared<FileByteSource>(f, true);
  }
  const int64_t length = source ? source->length() : -1;
  if (length < 0 || length != where.fileBytes || where.offset > length || where.ints > (length - where.offset) / 4) {
    ZUtils::logReport("[ERROR] Cannot read the grid of %s: the file cannot be opened or has changed\n",
                      where.path.c_str());
    return false;
  }
  source_ = std::move(source);
  fileOffset_ = where.offset;
  ints_ = where.ints;
  return true;
}

const unsigned char* GridRecordBytes::fetch(int64_t offset, int64_t count,
                                            OSTUtils::OstArray<unsigned char, int64_t>& scratch) const {
  if (offset < 0 || count < 0 || offset > bytes() || count > bytes() - offset) {
    ZUtils::logReport("[ERROR] Grid record bytes %lld + %lld lie outside the records\n", static_cast<long long>(offset),
                      static_cast<long long>(count));
    return nullptr;
  }
  if (memory_) return memory_ + offset;
  if (!source_) return nullptr;
  // Grown to powers of two: a slab's zones vary in size from slab to slab, and storage
  // freed on every small growth would pile up in the large-block cache, which hands blocks
  // out again only for the same size.
  if (scratch.capacity < count) {
    int64_t room = int64_t(1) << 16;
    while (room < count) room <<= 1;
    if (!scratch.SetSize(room, nullptr, true)) return nullptr;
  }
  scratch.SetSize(count);
  if (!source_->readAt(fileOffset_ + offset, scratch.data, count)) {
    ZUtils::logReport("[ERROR] Cannot read %lld bytes of grid records from the file\n", static_cast<long long>(count));
    return nullptr;
  }
  return scratch.data;
}

void GridRecordBytes::walkRecords(const std::function<bool(int32_t, int64_t, int64_t)>& visit) const {
  const int64_t n = ints_;
  const int64_t piece = 1 << 18;  // ints read at a time
  OSTUtils::OstArray<unsigned char, int64_t> scratch;
  const unsigned char* chunk = nullptr;
  int64_t chunkStart = 0, chunkEnd = 0;
  auto load = [&](int64_t i, int32_t* v) {
    if (i < chunkStart || i >= chunkEnd) {
      chunkStart = i;
      chunkEnd = std::min(n, i + piece);
      chunk = fetch(4 * chunkStart, 4 * (chunkEnd - chunkStart), scratch);
      if (!chunk) {
        chunkEnd = chunkStart;
        return false;
      }
    }
    std::memcpy(v, chunk + 4 * (i - chunkStart), sizeof *v);
    return true;
  };
  int64_t i = 0;
  while (i < n - 1) {
    int32_t channel = 0, length = 0;
    if (!load(i, &channel) || !load(i + 1, &length) || length < 1) return;
    if (!visit(channel, i + 2, length)) return;
    i += int64_t(length) + 2;
  }
}
