// The zip block: one inflate into an output whose capacity comes from the input, and the
// same stream through the streamed inflater in pieces whose size comes from the input: both
// reach one verdict with one report ("[ERROR] Decompressing Zip (code)"), and a stream that
// ends gives the same bytes.
#include <cstring>
#include <memory>
#include <string>

#include "FuzzTarget.h"
#include "compress/InflateStream.h"
#include "compress/ZipBlock.h"
#include "zutils/Report.h"

namespace {

std::string gReports;

void keepReport(int, const char* text, void*) { gReports += text; }

}  // namespace

NEB_FUZZ_TARGET(zip_block) {
  nebfuzz::Input in{data, size};
  const int64_t capacity = in.take(3) & 0xfffff;
  const int64_t piece = (in.take(2) & 0xffff) + 1;
  // Left unfilled: zeroing up to a megabyte per input was most of this target's time, and
  // the inflaters only write here. The sanitizer still guards both ends.
  const std::unique_ptr<char[]> whole(new char[static_cast<size_t>(capacity) + 1]);
  const std::unique_ptr<char[]> pieces(new char[static_cast<size_t>(capacity) + 1]);
  ZUtils::setReportCallback(keepReport, nullptr);
  gReports.clear();
  int64_t produced = 0;
  const bool ok = OSTUtils::InflateBlock(in.data, static_cast<int64_t>(in.size), capacity ? whole.get() : nullptr,
                                         capacity, &produced);
  const std::string wholeReports = gReports;
  gReports.clear();
  OSTUtils::InflateStream stream;
  const uint8_t* bytes = in.data;
  bool streamed = stream.open([bytes](int64_t offset, int64_t) { return bytes + offset; },
                              static_cast<int64_t>(in.size), capacity);
  for (int64_t at = 0; streamed && at < capacity; at += piece)
    streamed = stream.read(pieces.get() + at, capacity - at < piece ? capacity - at : piece);
  if (streamed && capacity == 0) streamed = stream.read(nullptr, 0);
  ZUtils::setReportCallback(nullptr, nullptr);
  if (streamed != ok || gReports != wholeReports) __builtin_trap();
  if (ok && std::memcmp(whole.get(), pieces.get(), static_cast<size_t>(produced)) != 0) __builtin_trap();
  return 0;
}
