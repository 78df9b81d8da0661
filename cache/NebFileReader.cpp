#include "cache/NebFileReader.h"

#include <cstdint>

#include "zutils/Report.h"

void NebFileReader::fail(const char* message) {
  if (message) ZUtils::logReportAt(ZUtils::kReportError, "%s", message);
  throw IOErrException();
}

void NebFileReader::measure(const char* message) {
  const int64_t length = source_.length();
  if (length < 0) fail(message);
  length_ = length;
  position_ = length;
}

void NebFileReader::seek(int64_t offset, int origin, const char* message) {
  const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? position_ : length_;
  int64_t at = 0;
  if (__builtin_add_overflow(base, offset, &at) || at < 0) fail(message);
  position_ = at;
}

void NebFileReader::read(void* out, int64_t bytes, const char* message) {
  if (bytes < 0) fail(message);
  if (bytes == 0) return;
  if (!source_.readAt(position_, out, bytes)) fail(message);
  position_ += bytes;
}

int32_t NebFileReader::readInt32(const char* message) {
  int32_t v = 0;
  read(&v, sizeof v, message);
  return v;
}

int64_t NebFileReader::readInt64(const char* message) {
  int64_t v = 0;
  read(&v, sizeof v, message);
  return v;
}

float NebFileReader::readFloat(const char* message) {
  float v = 0.0f;
  read(&v, sizeof v, message);
  return v;
}

void NebFileReader::readString(std::string& out, OSTUtils::MemoryReservation& hold) {
  static const char* const kBadString = "Bad string length in nebu2 file!\n";
  const int32_t n = readInt32(kBadString);
  requireLeft(n, kBadString);
  if (!hold.reserveAtLeast(static_cast<uint64_t>(n))) throw IOErrException();
  out.resize(static_cast<size_t>(n));
  if (n > 0) read(&out[0], n, kBadString);
}

void NebFileReader::requireAllocation(int64_t count, int64_t unitBytes, OSTUtils::MemoryReservation& hold) {
  if (count < 0 || unitBytes < 0) throw IOErrException();
  const uint64_t bytes = unitBytes > 0 && count > INT64_MAX / unitBytes ? UINT64_MAX
                                                                          : static_cast<uint64_t>(count * unitBytes);
  if (!hold.reserve(bytes)) throw IOErrException();
}

void NebFileReader::requireLeft(int64_t bytes, const char* message) const {
  if (bytes < 0 || bytes > left()) fail(message);
}

void NebFileReader::requireLeft(int64_t count, int64_t unitBytes, const char* message) const {
  if (count < 0 || unitBytes < 0) fail(message);
  if (unitBytes > 0 && count > left() / unitBytes) fail(message);
}
