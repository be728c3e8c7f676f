// The platform semaphore's contract, with the spin before blocking: at most
// one pending release, every release taken exactly once, and a waiter that
// has gone to sleep woken by a later release.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"
#include "testlib/threads.h"

namespace zp {
namespace {

TEST(Semaphore, HoldsAtMostOnePendingRelease) {
  platform::Semaphore* semaphore = platform::semaphoreCreate();
  ASSERT_NE(semaphore, nullptr);
  EXPECT_TRUE(platform::semaphoreRelease(semaphore));
  EXPECT_FALSE(platform::semaphoreRelease(semaphore)) << "a second pending release";
  EXPECT_TRUE(platform::semaphoreWait(semaphore));
  EXPECT_TRUE(platform::semaphoreRelease(semaphore)) << "the count went back to zero";
  EXPECT_TRUE(platform::semaphoreWait(semaphore));
  platform::semaphoreClose(semaphore);
}

// Two threads hand a token back and forth: the request/reply exchange of a
// worker. Each side pauses now and then, so waits end both while spinning and
// after blocking, and the spin budget rises and falls. Every release must be
// taken exactly once: a lost wake-up hangs (the test's timeout fails it), a
// doubled one breaks the strict alternation of the turns.
TEST(Semaphore, PingPongLosesNoWakeUpWhetherSpinningOrBlocked) {
  platform::Semaphore* request = platform::semaphoreCreate();
  platform::Semaphore* reply = platform::semaphoreCreate();
  ASSERT_NE(request, nullptr);
  ASSERT_NE(reply, nullptr);
  constexpr int kExchanges = 20000;
  std::atomic<int> turn{0};
  std::atomic<int> errors{0};
  test::runConcurrently(2, [&](int side) {
    for (int i = 0; i < kExchanges; ++i) {
      // Every 64th exchange one side dawdles long enough for the other to
      // fall through its spin and block.
      if (i % 64 == side * 32) {
        for (int y = 0; y < 200; ++y) test::yieldThread();
      }
      if (side == 0) {
        if (turn.load() != 2 * i) errors.fetch_add(1);
        turn.fetch_add(1);
        platform::semaphoreRelease(request);
        platform::semaphoreWait(reply);
      } else {
        platform::semaphoreWait(request);
        if (turn.load() != 2 * i + 1) errors.fetch_add(1);
        turn.fetch_add(1);
        platform::semaphoreRelease(reply);
      }
    }
  });
  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(turn.load(), 2 * kExchanges);
  platform::semaphoreClose(request);
  platform::semaphoreClose(reply);
}

// Eight request/reply pairs at once on a machine with far fewer processors:
// most waits find their partner not running, so they go through the
// yielding looks, and many block. Each pair must still alternate strictly
// and finish every exchange.
TEST(Semaphore, ManyPairsOnFewProcessorsLoseNoWakeUp) {
  constexpr int kPairs = 8;
  constexpr int kExchanges = 3000;
  platform::Semaphore* request[kPairs];
  platform::Semaphore* reply[kPairs];
  std::atomic<int> turn[kPairs];
  for (int p = 0; p < kPairs; ++p) {
    request[p] = platform::semaphoreCreate();
    reply[p] = platform::semaphoreCreate();
    ASSERT_NE(request[p], nullptr);
    ASSERT_NE(reply[p], nullptr);
    turn[p].store(0);
  }
  std::atomic<int> errors{0};
  test::runConcurrently(2 * kPairs, [&](int thread) {
    const int p = thread / 2;
    const bool caller = thread % 2 == 0;
    for (int i = 0; i < kExchanges; ++i) {
      if (caller) {
        if (turn[p].load() != 2 * i) errors.fetch_add(1);
        turn[p].fetch_add(1);
        platform::semaphoreRelease(request[p]);
        platform::semaphoreWait(reply[p]);
      } else {
        platform::semaphoreWait(request[p]);
        if (turn[p].load() != 2 * i + 1) errors.fetch_add(1);
        turn[p].fetch_add(1);
        platform::semaphoreRelease(reply[p]);
      }
    }
  });
  EXPECT_EQ(errors.load(), 0);
  for (int p = 0; p < kPairs; ++p) {
    EXPECT_EQ(turn[p].load(), 2 * kExchanges) << "pair " << p;
    platform::semaphoreClose(request[p]);
    platform::semaphoreClose(reply[p]);
  }
}

uint32_t releaseOnce(void* semaphore) {
  platform::semaphoreRelease(static_cast<platform::Semaphore*>(semaphore));
  return 0;
}

TEST(Semaphore, WaiterMayCloseAsSoonAsItsWaitReturns) {
  // The last one out wakes its owner, which closes the semaphore at once:
  // the release must be done with it by then. (The sanitizer builds see a
  // release that still reads the semaphore after the close.)
  for (int round = 0; round < 2000; ++round) {
    platform::Semaphore* semaphore = platform::semaphoreCreate();
    ASSERT_NE(semaphore, nullptr);
    uint32_t id = 0;
    ASSERT_TRUE(platform::threadStartDetached(releaseOnce, semaphore, &id));
    ASSERT_TRUE(platform::semaphoreWait(semaphore));
    platform::semaphoreClose(semaphore);
  }
}

}  // namespace
}  // namespace zp
