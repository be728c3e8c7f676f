// Semaphores with initial count 0 and maximum 1: an atomic count that a
// waiter first watches for a short, adaptive while (spin_wait.h), and an
// unnamed kernel32 semaphore to block on after that. The kernel semaphore
// only wakes sleepers; the count decides who takes the release, so a wake
// that arrives after its release was taken is waited past.
#include <windows.h>

#include <climits>
#include <new>

#include "platform/alloc.h"
#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/spin_wait.h"

namespace zp {
namespace platform {

struct Semaphore {
  SpinCount spin;
  HANDLE wake;
};

Semaphore* semaphoreCreate() {
  if (fault::shouldFail(fault::Point::kSemaphoreCreate)) return nullptr;
  void* block = allocate(sizeof(Semaphore));
  if (block == nullptr) return nullptr;
  Semaphore* semaphore = new (block) Semaphore;
  semaphore->wake = CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
  if (semaphore->wake == nullptr) {
    release(block);
    return nullptr;
  }
  semaphore->spin.init();
  return semaphore;
}

bool semaphoreRelease(Semaphore* semaphore) {
  return semaphore->spin.release([semaphore] { ReleaseSemaphore(semaphore->wake, 1, nullptr); });
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  if (semaphore->spin.spinTake()) return true;
  return semaphore->spin.takeBlocking(
      [semaphore] { return WaitForSingleObject(semaphore->wake, INFINITE) == WAIT_OBJECT_0; });
}

WatchedWait semaphoreWaitWatching(Semaphore* semaphore, Thread* thread) {
  if (thread == nullptr)
    return semaphoreWait(semaphore) ? WatchedWait::kTaken : WatchedWait::kFailed;
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return WatchedWait::kFailed;
  SpinCount& spin = semaphore->spin;
  if (spin.spinTake()) return WatchedWait::kTaken;
  HANDLE handles[2] = {semaphore->wake, static_cast<HANDLE>(threadSystemHandle(thread))};
  bool ended = false;
  const bool taken = spin.takeBlocking([&handles, &ended] {
    const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    ended = woken == WAIT_OBJECT_0 + 1;
    return woken == WAIT_OBJECT_0;
  });
  if (taken) return WatchedWait::kTaken;
  // A release the thread made before it ended is still there to take.
  if (ended) return spin.tryTake() ? WatchedWait::kTaken : WatchedWait::kThreadEnded;
  return WatchedWait::kFailed;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  semaphore->spin.awaitReleases();
  CloseHandle(semaphore->wake);
  release(semaphore);
}

}  // namespace platform
}  // namespace zp
