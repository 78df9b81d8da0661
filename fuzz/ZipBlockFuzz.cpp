// The zip block: one inflate into an output whose capacity comes from the input.
#include <vector>

#include "FuzzTarget.h"
#include "compress/ZipBlock.h"

NEB_FUZZ_TARGET(zip_block) {
  nebfuzz::Input in{data, size};
  const int64_t capacity = in.take(3) & 0xfffff;
  std::vector<char> out(static_cast<size_t>(capacity) + 1, 0);
  OSTUtils::InflateBlock(in.data, static_cast<int64_t>(in.size), capacity ? out.data() : nullptr, capacity);
  return 0;
}
