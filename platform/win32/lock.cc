// Re-entrant locks over Win32 critical sections.
#include <windows.h>

#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(LockStorage::bytes), "lock storage too small");

CRITICAL_SECTION* sectionOf(LockStorage* lock) {
  return reinterpret_cast<CRITICAL_SECTION*>(lock->bytes);
}

}  // namespace

void lockInit(LockStorage* lock) { InitializeCriticalSection(sectionOf(lock)); }

void lockEnter(LockStorage* lock) NO_THREAD_SAFETY_ANALYSIS {
  EnterCriticalSection(sectionOf(lock));
}

void lockLeave(LockStorage* lock) NO_THREAD_SAFETY_ANALYSIS {
  LeaveCriticalSection(sectionOf(lock));
}

void lockDestroy(LockStorage* lock) { DeleteCriticalSection(sectionOf(lock)); }

}  // namespace platform
}  // namespace zp
