// The module's own lifetime on Linux: a dlopen reference on the shared object
// that holds this code, found through the dynamic linker's map of it.
#include <dlfcn.h>
#include <link.h>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// Stands for "nothing to hold": the code is part of the program itself.
char g_programToken;

}  // namespace

void* moduleReferenceAcquire() {
  if (fault::shouldFail(fault::Point::kLibraryLoad)) return nullptr;
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&moduleReferenceAcquire), &info,
              reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      map == nullptr) {
    return nullptr;
  }
  // glibc's handle of the program is its link map.
  void* program = dlopen(nullptr, RTLD_NOW);
  if (program != nullptr) dlclose(program);
  if (static_cast<void*>(map) == program) return &g_programToken;
  // Already loaded, so this only counts one more reference.
  return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
}

void moduleReferenceRelease(void* reference) {
  if (reference == nullptr || reference == &g_programToken) return;
  dlclose(reference);
}

}  // namespace platform
}  // namespace zp
