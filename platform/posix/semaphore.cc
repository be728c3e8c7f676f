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
  // A sleeper counted in before the give is woken; one that counts itself in
  // after it finds the count at 1, so the kernel does not put it to sleep.
  return spin.release(
      [&spin] { syscall(SYS_futex, futexWord(spin), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); });
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  SpinCount& spin = semaphore->spin;
  if (spin.spinTake()) return true;
  // Sleeps only while the count is still 0, and may return early (a signal,
  // a wake-up whose release another waiter took): the loop looks again.
  return spin.takeBlocking([&spin] {
    syscall(SYS_futex, futexWord(spin), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
    return true;
  });
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
  // The signal goes under the mutex, so a sleeper between its last look at
  // the count and its wait cannot miss it.
  return semaphore->spin.release([semaphore] {
    pthread_mutex_lock(&semaphore->mutex);
    pthread_cond_signal(&semaphore->condition);
    pthread_mutex_unlock(&semaphore->mutex);
  });
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  if (semaphore->spin.spinTake()) return true;
  pthread_mutex_lock(&semaphore->mutex);
  const bool taken = semaphore->spin.takeBlocking([semaphore] {
    pthread_cond_wait(&semaphore->condition, &semaphore->mutex);
    return true;
  });
  pthread_mutex_unlock(&semaphore->mutex);
  return taken;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  semaphore->spin.awaitReleases();
  pthread_cond_destroy(&semaphore->condition);
  pthread_mutex_destroy(&semaphore->mutex);
  release(semaphore);
}

#endif

// A thread of the module ends only by returning, and the one watched here
// releases the semaphore before it does: the plain wait is enough.
WatchedWait semaphoreWaitWatching(Semaphore* semaphore, Thread*) {
  return semaphoreWait(semaphore) ? WatchedWait::kTaken : WatchedWait::kFailed;
}

}  // namespace platform
}  // namespace zp
