// Checked reading of a nebu2 file (internal to the reader), from any byte source (a file,
// memory, a host's read function: ByteSource.h).
//
// Every read and seek takes the message to report when it fails; a failure reports it
// (null reports nothing) and throws IOErrException, which only ImportNeb catches. The
// reader knows the file length once it has been measured, and every count taken from the
// file is checked against the bytes left before anything is sized by it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cache/ByteSource.h"
#include "ostutils/MemoryLimit.h"

class IOErrException {};

class NebFileReader {
 public:
  explicit NebFileReader(ByteSource& source) : source_(source) {}

  // Seeks to the end and records the file length.
  void measure(const char* message);
  void read(void* out, int64_t bytes, const char* message);
  // origin: SEEK_SET, SEEK_CUR or SEEK_END (from the measured length). A position past the
  // end is allowed, as with a file; the next read there fails.
  void seek(int64_t offset, int origin, const char* message);
  int32_t readInt32(const char* message);
  int64_t readInt64(const char* message);
  float readFloat(const char* message);
  // int32 byte count, then the text. A negative count or one past the end of the file fails.
  // `hold` keeps the text's bytes counted in the memory budget for as long as the string
  // keeps its storage (it only grows, as the string's capacity does).
  void readString(std::string& out, OSTUtils::MemoryReservation& hold);

  // Throws (reporting `message`) unless 0 <= bytes <= bytes left after the current position.
  void requireLeft(int64_t bytes, const char* message) const;
  // Same for count * unitBytes, without overflow.
  void requireLeft(int64_t count, int64_t unitBytes, const char* message) const;
  // Makes `hold` hold count * unitBytes of the process-wide memory budget
  // (ostutils/MemoryLimit.h, which reports a refusal), or throws. For the reader's std
  // containers, with `hold` living as long as the container's storage; newArray and
  // OstArray count themselves.
  static void requireAllocation(int64_t count, int64_t unitBytes, OSTUtils::MemoryReservation& hold);

  int64_t position() const { return position_; }
  int64_t length() const { return length_; }
  int64_t left() const { return length_ - position_; }

 private:
  [[noreturn]] static void fail(const char* message);
  ByteSource& source_;
  int64_t position_ = 0;
  int64_t length_ = 0;
};
