// Events of the platform layer: reset kinds, timeouts, the two-event wait and wake-ups
// from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "zutils/platform/Event.h"

namespace {

using ZUtils::platform::Event;

TEST(Event, AutoResetIsConsumedManualStays) {
  Event autoEv(false);
  EXPECT_FALSE(autoEv.wait(0));
  autoEv.set();
  autoEv.set();  // does not count up
  EXPECT_TRUE(autoEv.wait(0));
  EXPECT_FALSE(autoEv.wait(0));

  Event manual(true, true);
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(5));
  manual.reset();
  EXPECT_FALSE(manual.wait(0));
}

TEST(Event, TimedWaitTimesOut) {
  Event e(false);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.wait(30));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(29));
}

TEST(Event, WaitEitherReportsAndConsumesOnlyOne) {
  Event go(true);
  Event quit(false);
  EXPECT_EQ(Event::waitEither(go, quit, 0), -1);
  quit.set();
  go.set();
  EXPECT_EQ(Event::waitEither(go, quit, -1), 0);  // first wins; manual stays set
  EXPECT_EQ(Event::waitEither(go, quit, -1), 0);
  go.reset();
  EXPECT_EQ(Event::waitEither(go, quit, -1), 1);  // the auto event was not consumed before
  EXPECT_EQ(Event::waitEither(go, quit, 10), -1);
}

TEST(Event, SetFromAnotherThreadWakesWaiters) {
  Event a(false);
  Event b(false);
  std::atomic<int> woke{-2};
  std::thread waiter([&] { woke = Event::waitEither(a, b, -1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  b.set();
  waiter.join();
  EXPECT_EQ(woke.load(), 1);
  EXPECT_FALSE(b.wait(0));

  // Many rounds of ping-pong: no wake-up may be lost.
  Event ping(false);
  Event pong(false);
  Event stop(false);
  std::atomic<int> rounds{0};
  std::thread partner([&] {
    while (Event::waitEither(ping, stop, -1) == 0) {
      ++rounds;
      pong.set();
    }
  });
  for (int i = 0; i < 2000; ++i) {
    ping.set();
    ASSERT_TRUE(pong.wait(5000));
  }
  stop.set();
  partner.join();
  EXPECT_EQ(rounds.load(), 2000);
}

TEST(Event, ManualSetReleasesEveryWaiter) {
  Event gate(true);
  std::atomic<int> through{0};
  std::thread t[3];
  for (auto& th : t) th = std::thread([&] {
      if (gate.wait(5000)) ++through;
    });
  gate.set();
  for (auto& th : t) th.join();
  EXPECT_EQ(through.load(), 3);
}

}  // namespace
