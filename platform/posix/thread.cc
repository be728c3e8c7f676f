// Detached threads over pthreads.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/platform.h"
#include "support/alloc.h"
#include "support/fault.h"

namespace zp {
namespace platform {
namespace {

// Hands the new thread's kernel id back to its creator before the thread's
// own routine runs, so the creator can store it as CreateThread does.
struct StartBlock {
  ThreadMain main;
  void* argument;
  pthread_mutex_t mutex;
  pthread_cond_t started;
  uint32_t threadId;
  bool known;
};

void* threadTrampoline(void* raw) {
  StartBlock* block = static_cast<StartBlock*>(raw);
  ThreadMain main = block->main;
  void* argument = block->argument;
  pthread_mutex_lock(&block->mutex);
  block->threadId = static_cast<uint32_t>(syscall(SYS_gettid));
  block->known = true;
  pthread_cond_signal(&block->started);
  pthread_mutex_unlock(&block->mutex);
  // The creator frees the block once it has read the id; not touched again.
  main(argument);
  return nullptr;
}

}  // namespace

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return false;
  void* storage = allocate(sizeof(StartBlock));
  if (storage == nullptr) return false;
  StartBlock* block = new (storage) StartBlock;
  block->main = main;
  block->argument = argument;
  block->threadId = 0;
  block->known = false;
  pthread_mutex_init(&block->mutex, nullptr);
  pthread_cond_init(&block->started, nullptr);

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int created = pthread_create(&thread, &attributes, threadTrampoline, block);
  pthread_attr_destroy(&attributes);
  if (created == 0) {
    pthread_mutex_lock(&block->mutex);
    while (!block->known) pthread_cond_wait(&block->started, &block->mutex);
    pthread_mutex_unlock(&block->mutex);
    if (threadId != nullptr) *threadId = block->threadId;
  }
  pthread_cond_destroy(&block->started);
  pthread_mutex_destroy(&block->mutex);
  release(block);
  return created == 0;
}

}  // namespace platform
}  // namespace zp
