#include "zutils/platform/AtomicFileTemporaries.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

namespace ZUtils {
namespace platform {
namespace temporaries {

namespace {

constexpr int kSlots = 256;
constexpr size_t kPathBytes = 4096;
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 claimed (path being written), 2 holds a path
  char path[kPathBytes];
};
Slot gSlots[kSlots];

}  // namespace

int claim(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (gSlots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
      gSlots[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void release(int slot) {
  if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(0);
}

int removeAll(bool (*remove)(const char* path)) {
  int left = 0;
  for (Slot& slot : gSlots)
    if (slot.state.load() == 2 && !remove(slot.path)) ++left;
  return left;
}

std::string randomSuffix() {
  // Seeded per thread from the system's entropy and the clock, so that processes started
  // together (an array job) do not draw the same names.
  static thread_local std::mt19937_64 random{std::random_device{}() ^
                                             uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
  const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s;
  uint64_t r = random();
  for (int i = 0; i < 8; ++i, r /= 36) s += digits[r % 36];
  return s;
}

}  // namespace temporaries
}  // namespace platform
}  // namespace ZUtils
