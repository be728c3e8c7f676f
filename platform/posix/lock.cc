// Re-entrant locks over recursive pthread mutexes.
#include <pthread.h>

#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(LockStorage::bytes), "lock storage too small");
static_assert(alignof(pthread_mutex_t) <= alignof(LockStorage), "lock storage misaligned");

pthread_mutex_t* mutexOf(LockStorage* lock) {
  return reinterpret_cast<pthread_mutex_t*>(lock->bytes);
}

}  // namespace

void lockInit(LockStorage* lock) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutexOf(lock), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void lockEnter(LockStorage* lock) NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_lock(mutexOf(lock)); }

void lockLeave(LockStorage* lock) NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_unlock(mutexOf(lock)); }

void lockDestroy(LockStorage* lock) { pthread_mutex_destroy(mutexOf(lock)); }

}  // namespace platform
}  // namespace zp
