#include "cache/NebFileReader.h"

#include <cstdint>

#include "zutils/Report.h"
#include "zutils/platform/File.h"

void NebFileReader::fail(const char* message) {
  if (message) ZUtils::logReport("%s", message);
  throw IOErrException();
}

void NebFileReader::measure(const char* message) {
  seek(0, SEEK_END, message);
  length_ = position_;
}

void NebFileReader::seek(int64_t offset, int origin, const char* message) {
  if (!ZUtils::platform::seekFile(file_, offset, origin)) fail(message);
  const int64_t at = ZUtils::platform::tellFile(file_);
  if (at < 0) fail(message);
  position_ = at;
}

void NebFileReader::read(void* out, int64_t bytes, const char* message) {
  if (bytes < 0) fail(message);
  if (bytes == 0) return;
  const size_t got = fread(out, 1, static_cast<size_t>(bytes), file_);
  position_ += static_cast<int64_t>(got);
  if (static_cast<int64_t>(got) != bytes) fail(message);
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
