// Semaphores with initial count 0 and maximum 1, over a mutex and a condition
// variable (unnamed POSIX semaphores have no maximum, and the bound matters:
// a semaphore never holds more than one pending release).
#include <pthread.h>

#include <new>

#include "platform/platform.h"
#include "support/alloc.h"
#include "support/fault.h"

namespace zp {
namespace platform {

struct Semaphore {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  int count;
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
  semaphore->count = 0;
  return semaphore;
}

bool semaphoreRelease(Semaphore* semaphore) {
  pthread_mutex_lock(&semaphore->mutex);
  const bool released = semaphore->count < 1;
  if (released) {
    semaphore->count = 1;
    pthread_cond_signal(&semaphore->condition);
  }
  pthread_mutex_unlock(&semaphore->mutex);
  return released;
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  pthread_mutex_lock(&semaphore->mutex);
  while (semaphore->count == 0) pthread_cond_wait(&semaphore->condition, &semaphore->mutex);
  semaphore->count = 0;
  pthread_mutex_unlock(&semaphore->mutex);
  return true;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  pthread_cond_destroy(&semaphore->condition);
  pthread_mutex_destroy(&semaphore->mutex);
  release(semaphore);
}

}  // namespace platform
}  // namespace zp
