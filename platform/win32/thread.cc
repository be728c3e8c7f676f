// Detached threads over CreateThread.
#include <windows.h>

#include "platform/platform.h"
#include "support/fault.h"

namespace zp {
namespace platform {

bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId) {
  if (fault::shouldFail(fault::Point::kThreadCreate)) return false;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(main), argument, 0, &id);
  if (thread == nullptr) return false;
  // Detached: the creator keeps no handle.
  CloseHandle(thread);
  if (threadId != nullptr) *threadId = id;
  return true;
}

}  // namespace platform
}  // namespace zp
