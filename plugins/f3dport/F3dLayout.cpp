#include "plugins/f3dport/F3dLayout.h"

namespace F3dPort {

int64_t Box::voxels() const {
  if (!valid()) return 0;
  // Each size is at most 2^32: every product is checked against 62 bits before it is made.
  const int64_t limit = int64_t(1) << 62;
  if (size(0) > limit / size(1)) return -1;
  const int64_t xy = size(0) * size(1);
  if (xy > limit / size(2)) return -1;
  return xy * size(2);
}

bool FileLayout::account(const std::string& name) {
  // A layer, a partition or a list entry with its name, and up to three grid names.
  bytes_ += sizeof(Layer) + sizeof(Partition) + 4 * (name.size() + 32) + 3 * 64;
  // Grown in steps of a quarter, so a long list asks the budget a few dozen times.
  if (bytes_ <= hold_.bytes()) return true;
  return hold_.reserve(bytes_ + bytes_ / 4);
}

bool Box::operator==(const Box& o) const {
  for (int a = 0; a < 3; ++a)
    if (min[a] != o.min[a] || max[a] != o.max[a]) return false;
  return true;
}

}  // namespace F3dPort
