// Semaphores over unnamed kernel32 semaphores (initial count 0, maximum 1).
#include <windows.h>

#include "platform/platform.h"
#include "support/fault.h"

namespace zp {
namespace platform {

Semaphore* semaphoreCreate() {
  if (fault::shouldFail(fault::Point::kSemaphoreCreate)) return nullptr;
  return reinterpret_cast<Semaphore*>(CreateSemaphoreA(nullptr, 0, 1, nullptr));
}

bool semaphoreRelease(Semaphore* semaphore) {
  return ReleaseSemaphore(reinterpret_cast<HANDLE>(semaphore), 1, nullptr) != 0;
}

bool semaphoreWait(Semaphore* semaphore) {
  if (fault::shouldFail(fault::Point::kSemaphoreWait)) return false;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(semaphore), INFINITE) == WAIT_OBJECT_0;
}

void semaphoreClose(Semaphore* semaphore) {
  if (semaphore != nullptr) CloseHandle(reinterpret_cast<HANDLE>(semaphore));
}

}  // namespace platform
}  // namespace zp
