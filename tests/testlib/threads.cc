#include "testlib/threads.h"

#include <atomic>
#include <cstdlib>

#include "platform/platform.h"

namespace zp {
namespace test {
namespace {

struct Shared {
  const std::function<void(int)>* body;
  int count;
  std::atomic<int> arrived;
  std::atomic<bool> go;
  std::atomic<int> finished;
  platform::Semaphore* done;
};

struct Task {
  Shared* shared;
  int index;
};

uint32_t runTask(void* raw) {
  Task* task = static_cast<Task*>(raw);
  Shared* shared = task->shared;
  // Read before finishing: once the last task finishes, shared is gone.
  const int count = shared->count;
  shared->arrived.fetch_add(1);
  while (!shared->go.load()) {
  }
  (*shared->body)(task->index);
  // The last one out wakes the creator; nothing is touched after that.
  if (shared->finished.fetch_add(1) + 1 == count) platform::semaphoreRelease(shared->done);
  return 0;
}

}  // namespace

void runConcurrently(int count, const std::function<void(int)>& body) {
  Shared shared;
  shared.body = &body;
  shared.count = count;
  shared.arrived.store(0);
  shared.go.store(false);
  shared.finished.store(0);
  shared.done = platform::semaphoreCreate();
  if (shared.done == nullptr) std::abort();
  std::vector<Task> tasks(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    tasks[static_cast<size_t>(i)] = Task{&shared, i};
    uint32_t id = 0;
    if (!platform::threadStartDetached(runTask, &tasks[static_cast<size_t>(i)], &id)) std::abort();
  }
  while (shared.arrived.load() != count) {
  }
  shared.go.store(true);
  platform::semaphoreWait(shared.done);
  platform::semaphoreClose(shared.done);
}

}  // namespace test
}  // namespace zp
