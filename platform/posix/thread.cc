// Detached and joinable threads over pthreads.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"

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

// Creates a thread running block's routine, detached or joinable, and waits
// until it has told its kernel id. Frees the block. False when no thread was made.
bool startThread(StartBlock* block, bool detached, pthread_t* thread, uint32_t* threadId) {
  pthread_mutex_init(&block->mutex, nullptr);
  pthread_cond_init(&block->started, nullptr);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes,
                              detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
  const int created = pthread_create(thread, &attributes, threadTrampoline, block);
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

StartBlock* newStartBlock(ThreadMain main, void* argument) {
  void* storage = allocate(sizeof(StartBlock));
  if (storage == nullptr) return nullptr;
  StartBlock* block = new (storage) StartBlock;
  block->main = main;
  block->argument = argument;
  block->threadId = 0;
  block->known = false;
  return block;
}

}  // namespace

struct Thread {
  pthread_t thread;
};

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return false;
  StartBlock* block = newStartBlock(main, argument);
  if (block == nullptr) return false;
  pthread_t thread;
  return startThread(block, true, &thread, threadId);
}

Thread* threadStart(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return nullptr;
  auto* handle = static_cast<Thread*>(allocate(sizeof(Thread)));
  if (handle == nullptr) return nullptr;
  StartBlock* block = newStartBlock(main, argument);
  if (block == nullptr || !startThread(block, false, &handle->thread, threadId)) {
    release(handle);
    return nullptr;
  }
  return handle;
}

bool threadJoin(Thread* thread) {
  bool joined = false;
  if (!fault::shouldFail(fault::Point::kThreadJoin)) {
    joined = pthread_join(thread->thread, nullptr) == 0;
  }
  // A thread that was not joined still holds system resources: let them go
  // when it ends.
  if (!joined) pthread_detach(thread->thread);
  release(thread);
  return joined;
}

void threadYield() { sched_yield(); }

int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace platform
}  // namespace zp
