// Semaphores with initial count 0 and maximum 1: an atomic count that a
// waiter first watches for a short, adaptive while (spin_wait.h), and then
// blocks on: on Linux a futex on the count itself (one system call to sleep,
// one to wake, and no lock for the woken thread to take again), elsewhere a
// mutex and condition variable. Unnamed POSIX semaphores have no maximum, and
// the bound matters: a semaphore never holds more than one pending release.
#include <pthread.h>

#include <new>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/spin_wait.h"

namespace zp {
namespace platform {

#if defined(__linux__)

static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t),
              "the futex word is the count itself");

struct Semaphore {
  SpinCount spin;
};

namespace {

int32_t* futexWord(SpinCount& spin) { return reinterpret_cast<int32_t*>(&spin.count); }

// Sleeps while the count is still 0; returns at once when it is not, and
// may return early (a signal, a wake meant for the count's last release).
void futexWaitWhileZero(SpinCount& spin) {
  syscall(SYS_futex, futexWord(spin), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
}

void futexWakeOne(SpinCount& spin) {
  syscall(SYS_futex, futexWord(spin), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

Semaphore* semaphoreCreate() {
  if (fault::shouldFail(fault::Point::kSemaphoreCreate)) return nullptr;
  void* block = allocate(sizeof(Semaphore));
  if (block == nullptr) return nullptr;
  Semaphore* semaphore = new (block) Semaphore;
  semaphore->spin.init();
  return semaphore;
}

bool semaphoreRelease(Semaphore* semaphore) {
  SpinCount& spin = semaphore->spin;
  spin.beginRelease();
  const bool given = spin.give();
  // A sleeper counted in before the give is woken; one that counts itself in
  // after it finds the count at 1, so the kernel does not put it to sleep.
  if (given && spin.hasSleepers()) futexWakeOne(spin);
  spin.endRelease();
  return given;
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  SpinCount& spin = semaphore->spin;
  if (spin.spinTake()) return true;
  spin.sleepers.fetch_add(1, std::memory_order_seq_cst);
  while (!spin.tryTake()) futexWaitWhileZero(spin);
  spin.sleepers.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  semaphore->spin.awaitReleases();
  release(semaphore);
}

#else  // other POSIX systems: a mutex and a condition variable

struct Semaphore {
  SpinCount spin;
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

Semaphore* semaphoreCreate() {
  if (fault::shouldFail(fault::Point::kSemaphoreCreate)) return nullptr;
  void* block = allocate(sizeof(Semaphore));
  if (block == nullptr) return nullptr;
  Semaphore* semaphore = new (block) Semaphore;
  if (pthread_mutex_init(&semaphore->mutex, nullptr) != 0) {
    release(block);
    return nullptr;
  }
  if (pthread_cond_init(&semaphore->condition, nullptr) != 0) {
    pthread_mutex_destroy(&semaphore->mutex);
    release(block);
    return nullptr;
  }
  semaphore->spin.init();
  return semaphore;
}

bool semaphoreRelease(Semaphore* semaphore) {
  SpinCount& spin = semaphore->spin;
  spin.beginRelease();
  const bool given = spin.give();
  if (given && spin.hasSleepers()) {
    // Under the mutex, so a sleeper between its last look at the count and
    // its wait cannot miss the signal.
    pthread_mutex_lock(&semaphore->mutex);
    pthread_cond_signal(&semaphore->condition);
    pthread_mutex_unlock(&semaphore->mutex);
  }
  spin.endRelease();
  return given;
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  SpinCount& spin = semaphore->spin;
  if (spin.spinTake()) return true;
  pthread_mutex_lock(&semaphore->mutex);
  spin.sleepers.fetch_add(1, std::memory_order_seq_cst);
  while (!spin.tryTake()) pthread_cond_wait(&semaphore->condition, &semaphore->mutex);
  spin.sleepers.fetch_sub(1, std::memory_order_relaxed);
  pthread_mutex_unlock(&semaphore->mutex);
  return true;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  semaphore->spin.awaitReleases();
  pthread_cond_destroy(&semaphore->condition);
  pthread_mutex_destroy(&semaphore->mutex);
  release(semaphore);
}

#endif

}  // namespace platform
}  // namespace zp
