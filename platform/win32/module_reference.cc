// The module's own lifetime on Windows: a loader reference on the DLL (or
// program) that holds this code.
#include <windows.h>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {

void* moduleReferenceAcquire() {
  if (fault::shouldFail(fault::Point::kLibraryLoad)) return nullptr;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&moduleReferenceAcquire), &module)) {
    return nullptr;
  }
  return module;
}

void moduleReferenceRelease(void* reference) {
  if (reference != nullptr) FreeLibrary(static_cast<HMODULE>(reference));
}

}  // namespace platform
}  // namespace zp
