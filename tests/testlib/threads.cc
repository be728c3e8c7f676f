#include "testlib/threads.h"

#include <atomic>
#include <cstdlib>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

namespace zp {
namespace test {
namespace {

struct Shared {
  const std::function<void(int)>* body;
  int count;
  std::atomic<int> arrived;
  std::atomic<bool> go;
};

struct Task {
  Shared* shared;
  int index;
};

uint32_t runTask(void* raw) {
  Task* task = static_cast<Task*>(raw);
  Shared* shared = task->shared;
  shared->arrived.fetch_add(1);
  while (!shared->go.load()) yieldThread();
  (*shared->body)(task->index);
  return 0;
}

}  // namespace

void runConcurrently(int count, const std::function<void(int)>& body) {
  Shared shared;
  shared.body = &body;
  shared.count = count;
  shared.arrived.store(0);
  shared.go.store(false);
  std::vector<Task> tasks(static_cast<size_t>(count));
  std::vector<platform::Thread*> threads(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    tasks[static_cast<size_t>(i)] = Task{&shared, i};
    uint32_t id = 0;
    threads[static_cast<size_t>(i)] =
        platform::threadStart(runTask, &tasks[static_cast<size_t>(i)], &id);
    if (threads[static_cast<size_t>(i)] == nullptr) std::abort();
  }
  while (shared.arrived.load() != count) yieldThread();
  shared.go.store(true);
  // Joined, so every thread has ended when this returns.
  for (platform::Thread* thread : threads) {
    if (!platform::threadJoin(thread)) std::abort();
  }
}

void yieldThread() {
#ifdef _WIN32
  SwitchToThread();
#else
  sched_yield();
#endif
}

}  // namespace test
}  // namespace zp
