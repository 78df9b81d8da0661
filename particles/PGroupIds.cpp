// Identifier lookups of a particle group: the IDORD index and findParticleById.
#include <algorithm>
#include <mutex>

#include "ostutils/Allocation.h"
#include "particles/PGroup.h"

namespace {

const int kExchangeRun = 6;

}  // namespace

bool PGroup::IDORD::sortByIds() {
  const int n = size;
  if (n < 2) return true;
  int* scratch = nullptr;
  if (!OSTUtils::newArray(scratch, static_cast<uint64_t>(n))) return false;
  int* from = data;
  int* to = scratch;
  // Short runs by pairwise exchange (insertion, stable: equal identifiers keep their order).
  for (int lo = 0; lo < n; lo += kExchangeRun) {
    const int hi = std::min(n, lo + kExchangeRun);
    for (int i = lo + 1; i < hi; ++i) {
      for (int j = i; j > lo && comesAfter(from[j - 1], from[j]); --j) std::swap(from[j - 1], from[j]);
    }
  }
  // Bottom-up merges, ping-ponging between the array and the scratch copy. Indices in 64
  // bits: lo + 2 * width may pass INT_MAX for the largest groups.
  for (int64_t width = kExchangeRun; width < n; width *= 2) {
    for (int64_t lo = 0; lo < n; lo += 2 * width) {
      const int64_t mid = std::min<int64_t>(n, lo + width);
      const int64_t hi = std::min<int64_t>(n, lo + 2 * width);
      int64_t a = lo, b = mid, k = lo;
      while (a < mid && b < hi) to[k++] = comesAfter(from[a], from[b]) ? from[b++] : from[a++];
      while (a < mid) to[k++] = from[a++];
      while (b < hi) to[k++] = from[b++];
    }
    std::swap(from, to);
  }
  if (from != data) std::copy(from, from + n, data);
  OSTUtils::releaseArray(scratch);
  return true;
}

bool PGroup::ensureIdOrder() {
  std::lock_guard<OwnedLock> guard(groupLock);
  const int64_t* ids = static_cast<const int64_t*>(getChannelData(0, ParticleSlotLayout::kIdSlot));
  const int64_t count = ids ? expandedParticleCount(ParticleSlotLayout::kIdSlot) : 0;
  if (count <= 0) return false;
  if (idOrder.size > 0) {
    // An index made elsewhere (the reader builds one while loading) is kept when it covers
    // exactly the identifiers there are and names only existing particles.
    bool usable = idOrder.size == count;
    for (int i = 0; usable && !idOrderChecked && i < idOrder.size; ++i) {
      usable = idOrder.data[i] >= 0 && idOrder.data[i] < count;
    }
    if (usable) {
      idOrderChecked = 1;
      idOrder.ids = ids;
      return true;
    }
    idOrder.Free();
  }
  if (idsCheckedAscending) return true;
  // Ascending from a non-negative first identifier: lookups search the identifiers
  // directly. A negative first identifier counts as a decrease (from 0).
  int64_t previous = 0;
  bool ascending = true;
  for (int64_t i = 0; i < count && ascending; ++i) {
    ascending = ids[i] >= previous;
    previous = ids[i];
  }
  if (ascending) {
    idsCheckedAscending = 1;
    return true;
  }
  if (!idOrder.SetSize(static_cast<int>(count), nullptr, true)) return false;
  for (int i = 0; i < count; ++i) idOrder.data[i] = i;
  idOrder.ids = ids;
  if (!idOrder.sortByIds()) {
    idOrder.Free();
    return false;
  }
  idOrderChecked = 1;
  return true;
}

int PGroup::findInIds(const int64_t* ids, int64_t count, int64_t id) const {
  int64_t lo = 0, hi = count;
  while (hi - lo > 1) {
    const int64_t mid = (lo + hi) / 2;
    if (id < ids[mid]) {
      hi = mid;
    } else if (ids[mid] == id) {
      return static_cast<int>(mid);
    } else {
      lo = mid;
    }
  }
  return ids[lo] == id ? static_cast<int>(lo) : -1;
}

int PGroup::findParticleById(long long id) {
  if (particleCount <= 0 || !slotHasData(ParticleSlotLayout::kIdSlot)) return -1;
  const int64_t* ids = static_cast<const int64_t*>(getChannelData(0, ParticleSlotLayout::kIdSlot));
  if (!ids) return -1;
  const int64_t count = expandedParticleCount(ParticleSlotLayout::kIdSlot);
  if (count <= 0) return -1;
  if (!ensureIdOrder()) {
    // No memory for the index: a plain scan still gives the right answer.
    for (int64_t i = 0; i < count; ++i)
      if (ids[i] == id) return static_cast<int>(i);
    return -1;
  }
  // Once ensureIdOrder has returned, idOrder no longer changes.
  if (idOrder.size == 0) return findInIds(ids, count, id);
  const int* order = idOrder.data;
  auto idAt = [&](int position, int64_t* value) {
    const int index = order[position];
    if (index < 0 || index >= count) return false;
    *value = ids[index];
    return true;
  };
  int lo = 0, hi = idOrder.size;
  int64_t v = 0;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    if (!idAt(mid, &v)) return -1;
    if (id < v) {
      hi = mid;
    } else if (v == id) {
      return order[mid];
    } else {
      lo = mid;
    }
  }
  return idAt(lo, &v) && v == id ? order[lo] : -1;
}
