// Semaphores with initial count 0 and maximum 1: an atomic count that a
// waiter first watches for a short, adaptive while (spin_wait.h), and an
// unnamed kernel32 semaphore to block on after that. The kernel semaphore
// only wakes sleepers; the count decides who takes the release, so a wake
// that arrives after its release was taken is waited past.
#include <windows.h>

#include <climits>
#include <new>

#include "platform/alloc.h"
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

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore == nullptr) return;
  semaphore->spin.awaitReleases();
  CloseHandle(semaphore->wake);
  release(semaphore);
}

}  // namespace platform
}  // namespace zp
