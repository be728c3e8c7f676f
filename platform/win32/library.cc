// Library loading over LoadLibraryA / GetProcAddress.
#include <windows.h>

#include "platform/platform.h"
#include "support/fault.h"

namespace zp {
namespace platform {

Library* libraryLoad(const char* fileName) {
  if (fault::shouldFail(fault::Point::kLibraryLoad)) return nullptr;
  if (fileName == nullptr) return nullptr;
  return reinterpret_cast<Library*>(LoadLibraryA(fileName));
}

void* librarySymbol(Library* library, const char* name) {
  if (fault::shouldFail(fault::Point::kLibrarySymbol)) return nullptr;
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void libraryUnload(Library* library) {
  if (library != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

}  // namespace platform
}  // namespace zp
