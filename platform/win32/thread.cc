// Detached and joinable threads over CreateThread.
#include <windows.h>

#include <new>

#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// CreateThread calls a WINAPI (stdcall on the 32-bit target) routine, while
// ThreadMain is a plain C++ function: the thread starts in a WINAPI trampoline
// that calls it.
struct StartBlock {
  ThreadMain main;
  void* argument;
};

DWORD WINAPI threadTrampoline(LPVOID raw) {
  StartBlock block = *static_cast<StartBlock*>(raw);
  release(raw);
  return block.main(block.argument);
}

// Creates a thread running main(argument) through the trampoline. Returns
// its handle, or null when no thread was made.
HANDLE startThread(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return nullptr;
  void* storage = allocate(sizeof(StartBlock));
  if (storage == nullptr) return nullptr;
  new (storage) StartBlock{main, argument};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, threadTrampoline, storage, 0, &id);
  if (thread == nullptr) {
    release(storage);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return thread;
}

}  // namespace

struct Thread {
  HANDLE handle;
};

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  HANDLE thread = startThread(main, argument, threadId);
  if (thread == nullptr) return false;
  // Detached: the creator keeps no handle.
  CloseHandle(thread);
  return true;
}

Thread* threadStart(ThreadMain main, void* argument, uint32_t* threadId) {
  auto* handle = static_cast<Thread*>(allocate(sizeof(Thread)));
  if (handle == nullptr) return nullptr;
  handle->handle = startThread(main, argument, threadId);
  if (handle->handle == nullptr) {
    release(handle);
    return nullptr;
  }
  return handle;
}

bool threadJoin(Thread* thread) {
  const bool joined = !fault::shouldFail(fault::Point::kThreadJoin) &&
                      WaitForSingleObject(thread->handle, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(thread->handle);
  release(thread);
  return joined;
}

void threadYield() { SwitchToThread(); }

int64_t monotonicNanoseconds() {
  static const int64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<int64_t>(value.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const int64_t ticks = counter.QuadPart;
  // In two parts, so that the product cannot overflow however long the
  // system has been up.
  return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

}  // namespace platform
}  // namespace zp
