// The spinning half of a semaphore wait, shared by both backends: before a
// waiter blocks in the kernel, it keeps looking at the count for a short
// while, since on the request/reply hand-off the answer usually comes within
// microseconds and waking a blocked thread costs far more than that (on a
// virtual machine, waking a thread whose processor has gone idle costs tens
// of microseconds of the waker's and the sleeper's time). The look goes in
// two phases: first with a pause between looks, for a partner running on
// another processor; then yielding the processor between looks, for a
// partner that waits for a processor (more threads ready than processors),
// which the yield lets run. The spin adapts per semaphore: it grows while
// waits are met during the spin and shrinks while they are not, so a
// semaphore whose releases come late (an idle worker, a slow database call)
// soon blocks almost at once, and an idle one burns no processor time.
#ifndef ZP_PLATFORM_SPIN_WAIT_H
#define ZP_PLATFORM_SPIN_WAIT_H

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

namespace zp {
namespace platform {

// A hint to the processor that this is a spin loop.
inline void spinPause() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// The most looks a wait may take before it blocks: standard, unless the
// process was started with ZP_SEMAPHORE_SPIN set to a number, which replaces
// it (0: every wait blocks at once; up to SpinCount::kPauseSteps, pausing
// looks only). A measurement knob, not a setting: it lets the benchmarks show
// what the spin gains and costs. Read on the first wait of the
// process (the C library's getenv, outside the fault hooks); racing first
// readers store the same answer.
inline int32_t spinCap(int32_t standard) {
  static std::atomic<int32_t> setting{-1};
  int32_t now = setting.load(std::memory_order_relaxed);
  if (now < 0) {
    const char* value = std::getenv("ZP_SEMAPHORE_SPIN");
    now = standard;
    if (value != nullptr && value[0] >= '0' && value[0] <= '9') {
      const long asked = std::strtol(value, nullptr, 10);
      now = asked > 65536 ? 65536 : static_cast<int32_t>(asked);
    }
    setting.store(now, std::memory_order_relaxed);
  }
  return now;
}

// The count (0 or 1) and the adaptive spin budget of one semaphore.
struct SpinCount {
  std::atomic<int32_t> count;
  std::atomic<int32_t> sleepers;  // waiters that may be blocked in the kernel
  std::atomic<int32_t> budget;    // pausing looks the next wait may take
  // Releases under way. A waiter may return, and its owner close the
  // semaphore, as soon as the count is given, while the releaser still has
  // the sleepers to look at and perhaps wake: the close waits for this to
  // drop to zero, so a release touches nothing once it has finished.
  std::atomic<int32_t> releasing;
  std::atomic<int32_t> shortSpins;   // waits since the last full-length spin
  std::atomic<int32_t> yieldBudget;  // yielding looks the next wait may take

  // Looks with a pause between them: about 6 us (a pause is 25-40 ns on
  // current x86 processors), no longer than a blocking hand-off between two
  // running processors costs, since such a spin cannot pay for itself, and
  // on a machine whose cores are all busy it takes the processor from the
  // very thread whose reply it waits for.
  static constexpr int32_t kPauseSteps = 256;
  // Then looks with a yield before each: a yield gives the processor to a
  // thread ready on it (the partner, when threads outnumber processors) and
  // otherwise costs a system call, about 0.4 us. At most kYieldSteps of them,
  // about what blocking and being woken costs on a virtual machine; halved
  // after every wait they did not meet, down to kYieldFloor, and raised to
  // about twice the looks a wait took when one is met late in the phase (a
  // semaphore whose releases come either at once or much later, such as the
  // reply to a call that may or may not reach a database, so keeps its
  // yielding phase short).
  static constexpr int32_t kYieldSteps = 64;
  static constexpr int32_t kYieldFloor = 8;
  static constexpr int32_t kMinBudget = 0;
  static constexpr int32_t kMaxBudget = kPauseSteps + kYieldSteps;
  static constexpr int32_t kStartBudget = 128;
  // The shortest spin, a probe of a few hundred nanoseconds, and how often a
  // semaphore whose budget has fallen below it spins the whole cap instead.
  static constexpr int32_t kProbe = 16;
  static constexpr int32_t kFullSpinEvery = 8;

  void init() {
    count.store(0, std::memory_order_relaxed);
    sleepers.store(0, std::memory_order_relaxed);
    budget.store(kStartBudget, std::memory_order_relaxed);
    releasing.store(0, std::memory_order_relaxed);
    shortSpins.store(0, std::memory_order_relaxed);
    yieldBudget.store(kYieldSteps, std::memory_order_relaxed);
  }

  // Bracket a release: begin before give, end after the last access.
  void beginRelease() { releasing.fetch_add(1, std::memory_order_relaxed); }
  void endRelease() { releasing.fetch_sub(1, std::memory_order_release); }
  // Before the semaphore is destroyed: waits out releases still under way
  // (a few instructions each).
  void awaitReleases() const {
    while (releasing.load(std::memory_order_acquire) != 0) spinPause();
  }

  // Takes the pending release, if there is one.
  bool tryTake() {
    int32_t expected = 1;
    // Sequentially consistent, so a sleeper that has just counted itself in
    // and a releaser that has just given cannot both miss each other.
    return count.load(std::memory_order_seq_cst) == 1 &&
           count.compare_exchange_strong(expected, 0, std::memory_order_acquire,
                                         std::memory_order_relaxed);
  }

  // Makes the one pending release; false when there is one already. The
  // caller wakes a sleeper afterwards when sleepersAfterRelease says so.
  bool give() {
    int32_t expected = 0;
    return count.compare_exchange_strong(expected, 1, std::memory_order_seq_cst,
                                         std::memory_order_relaxed);
  }
  // Read after give (sequentially consistent with the sleeper's increment
  // and its retry of tryTake, so a sleeper either sees the count or is seen).
  bool hasSleepers() const { return sleepers.load(std::memory_order_seq_cst) > 0; }

  // The whole of a release: gives the count, and when a waiter may be
  // asleep calls wakeOne() to wake one. False when a release was already
  // pending.
  template <typename WakeOne>
  bool release(WakeOne wakeOne) {
    beginRelease();
    const bool given = give();
    if (given && hasSleepers()) wakeOne();
    endRelease();
    return given;
  }

  // The blocking half of a wait, after spinTake: counts the waiter in as a
  // sleeper and calls sleep() until it takes the release. sleep() returns
  // when the count may have been given (a wake-up, or at once when the
  // count is no longer 0), false when it failed, which ends the wait with
  // false and the release not taken.
  template <typename Sleep>
  bool takeBlocking(Sleep sleep) {
    sleepers.fetch_add(1, std::memory_order_seq_cst);
    bool taken = tryTake();
    while (!taken && sleep()) taken = tryTake();
    sleepers.fetch_sub(1, std::memory_order_relaxed);
    return taken;
  }

  // Looks for at most the budgets; true when the release was taken. Adjusts
  // the budgets by the outcome (the yielding one as above). For the pausing
  // budget: a release met late in the pausing looks raises it to about twice
  // the looks it took, one not met halves it. A budget below a probe still
  // takes every pausing look of the cap every kFullSpinEvery-th wait. Without that, a request/reply
  // pair whose two sides have both stopped spinning stays so for good: each side's release then has
  // to wake the other, which takes longer than a probe, so no probe is ever met and neither budget
  // grows, while a full spin on one side is met and starts both again. A cap of kPauseSteps or less
  // leaves out the yielding looks.
  bool spinTake() {
    const int32_t cap = spinCap(kMaxBudget);
    if (cap == 0) return tryTake();
    const int32_t pauseCap = cap < kPauseSteps ? cap : kPauseSteps;
    const int32_t current = budget.load(std::memory_order_relaxed);
    int32_t limit = current > pauseCap ? pauseCap : current;
    if (limit < kProbe) {
      const bool full = shortSpins.fetch_add(1, std::memory_order_relaxed) % kFullSpinEvery == 0;
      limit = full ? pauseCap : kProbe;
    }
    for (int32_t i = 0; i < limit; ++i) {
      if (tryTake()) {
        if (i * 2 >= current) grow(pauseCap, i);
        return true;
      }
      spinPause();
    }
    shrink();
    const int32_t yieldsCap = cap - kPauseSteps;
    if (yieldsCap <= 0) return false;
    int32_t yields = yieldBudget.load(std::memory_order_relaxed);
    if (yields < kYieldFloor) yields = kYieldFloor;
    if (yields > yieldsCap) yields = yieldsCap;
    for (int32_t i = 0; i < yields; ++i) {
      threadYield();
      if (tryTake()) {
        growYields(yields, i);
        return true;
      }
    }
    yieldBudget.store(yields / 2, std::memory_order_relaxed);
    return false;
  }

 private:
  // After a release met at yielding look spun of a phase that had room for
  // yields looks: about twice the looks it took, when that is more.
  void growYields(int32_t yields, int32_t spun) {
    const int32_t wanted = spun * 2 + kYieldFloor;
    if (wanted > yields)
      yieldBudget.store(wanted > kYieldSteps ? kYieldSteps : wanted, std::memory_order_relaxed);
  }
  // After a release met at pause iteration spun.
  void grow(int32_t cap, int32_t spun) {
    const int32_t now = budget.load(std::memory_order_relaxed);
    int32_t wanted = now * 2 + kProbe;
    if (wanted < spun * 2 + kProbe) wanted = spun * 2 + kProbe;
    budget.store(wanted > cap ? cap : wanted, std::memory_order_relaxed);
  }
  void shrink() {
    budget.store(budget.load(std::memory_order_relaxed) / 2, std::memory_order_relaxed);
  }
};

}  // namespace platform
}  // namespace zp

#endif  // ZP_PLATFORM_SPIN_WAIT_H
