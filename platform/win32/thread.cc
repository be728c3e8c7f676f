// Detached threads over CreateThread.
#include <windows.h>

#include <new>

#include "platform/platform.h"
#include "support/alloc.h"
#include "support/fault.h"

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

}  // namespace

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return false;
  void* storage = allocate(sizeof(StartBlock));
  if (storage == nullptr) return false;
  new (storage) StartBlock{main, argument};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, threadTrampoline, storage, 0, &id);
  if (thread == nullptr) {
    release(storage);
    return false;
  }
  // Detached: the creator keeps no handle.
  CloseHandle(thread);
  if (threadId != nullptr) *threadId = id;
  return true;
}

}  // namespace platform
}  // namespace zp
