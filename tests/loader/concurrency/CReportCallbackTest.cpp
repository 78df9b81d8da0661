// The report callback of the C interface is called from every thread that reports, at
// once, while the host installs and removes callbacks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "nebloader_c.h"

namespace {

std::atomic<int> gReceived{0};
std::atomic<int> gMalformed{0};

void count(int level, const char* text, void* user) {
  if (!text || level != NEB_REPORT_ERROR || user != &gReceived) gMalformed.fetch_add(1);
  gReceived.fetch_add(1);
}

}  // namespace

TEST(CReportCallback, ReachesTheHostFromEveryThreadAtOnce) {
  neb_set_report_callback(&count, &gReceived);
  const int kThreads = 4, kCalls = 200;
  std::atomic<bool> stop{false};
  // Reinstalling the callback meanwhile must neither lose it nor hand out a torn pair.
  std::thread swapper([&] {
    while (!stop.load()) neb_set_report_callback(&count, &gReceived);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) neb_slot_layout(-1, nullptr, nullptr, nullptr);
    });
  }
  for (std::thread& t : threads) t.join();
  stop.store(true);
  swapper.join();
  neb_set_report_callback(nullptr, nullptr);
  neb_slot_layout(-1, nullptr, nullptr, nullptr);
  EXPECT_EQ(gReceived.load(), kThreads * kCalls);
  EXPECT_EQ(gMalformed.load(), 0);
}
