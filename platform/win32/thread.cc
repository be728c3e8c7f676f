// Detached and joinable threads over CreateThread.
#include <windows.h>
#include <winternl.h>

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

// The loader lock is the critical section that the process environment
// block's LoaderLock field points to (at 0x110 on 64-bit Windows, 0xA0 on
// 32-bit, as in Wine); its owner field holds the owning thread's id. The
// field lies past what winternl.h declares of the block, so it is read at
// its offset.
bool loaderLockHeldByCaller() {
#if defined(_WIN64)
  constexpr size_t kLoaderLockOffset = 0x110;
#else
  constexpr size_t kLoaderLockOffset = 0xA0;
#endif
  const auto* peb = reinterpret_cast<const unsigned char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
  if (peb == nullptr) return false;
  const auto* lock = *reinterpret_cast<CRITICAL_SECTION* const*>(peb + kLoaderLockOffset);
  return lock != nullptr && lock->OwningThread == reinterpret_cast<HANDLE>(
                                                      static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

}  // namespace

struct Thread {
  HANDLE handle;
};

void* threadSystemHandle(Thread* thread) { return thread->handle; }

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  HANDLE thread = startThread(main, argument, threadId);
  if (thread == nullptr) return false;
  // Detached: the creator keeps no handle.
  CloseHandle(thread);
  return true;
}

Thread* threadStart(ThreadMain main, void* argument, uint32_t* threadId) {
  // Every new thread enters the loader before it runs main: under the loader
  // lock it would not begin until the caller leaves it.
  if (loaderLockHeldByCaller()) return nullptr;
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
  // A thread ends through the loader (its libraries see the thread detach):
  // under the loader lock only a thread that has ended already is joined.
  const DWORD limit = loaderLockHeldByCaller() ? 0 : INFINITE;
  const bool joined = !fault::shouldFail(fault::Point::kThreadJoin) &&
                      WaitForSingleObject(thread->handle, limit) == WAIT_OBJECT_0;
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
