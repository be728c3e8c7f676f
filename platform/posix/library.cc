// Library loading over dlopen / dlsym.
#include <dlfcn.h>

#include "platform/platform.h"
#include "support/fault.h"

namespace zp {
namespace platform {

Library* libraryLoad(const char* fileName) {
  if (fault::shouldFail(fault::Point::kLibraryLoad)) return nullptr;
  if (fileName == nullptr) return nullptr;
  return static_cast<Library*>(dlopen(fileName, RTLD_NOW));
}

void* librarySymbol(Library* library, const char* name) {
  if (fault::shouldFail(fault::Point::kLibrarySymbol)) return nullptr;
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void libraryUnload(Library* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
}  // namespace zp
