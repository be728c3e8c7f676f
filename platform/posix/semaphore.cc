// Semaphores with initial count 0 and maximum 1: an atomic count that a
// waiter first watches for a short, adaptive while (spin_wait.h), and a
// mutex and condition variable to block on after that. Unnamed POSIX
// semaphores have no maximum, and the bound matters: a semaphore never holds
// more than one pending release.
#include <pthread.h>

#include <new>

#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/spin_wait.h"

namespace zp {
namespace platform {

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

}  // namespace platform
}  // namespace zp
