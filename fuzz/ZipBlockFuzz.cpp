// The zip block: one inflate into an output whose capacity comes from the input.
#include <memory>

#include "FuzzTarget.h"
#include "compress/ZipBlock.h"

NEB_FUZZ_TARGET(zip_block) {
  nebfuzz::Input in{data, size};
  const int64_t capacity = in.take(3) & 0xfffff;
  // Left unfilled: zeroing up to a megabyte per input was most of this target's time, and
  // the inflater only writes here. The sanitizer still guards both ends.
  const std::unique_ptr<char[]> out(new char[static_cast<size_t>(capacity) + 1]);
  OSTUtils::InflateBlock(in.data, static_cast<int64_t>(in.size), capacity ? out.get() : nullptr, capacity);
  return 0;
}
