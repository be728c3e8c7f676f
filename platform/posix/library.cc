// Library loading over dlopen / dlsym, and the paths of loaded libraries.
#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "platform/backend.h"
#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

size_t copyPath(const char* path, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  if (path == nullptr || path[0] == '\0') return 0;
  const size_t length = std::strlen(path);
  if (length >= size) return 0;
  std::memcpy(buffer, path, length + 1);
  return length;
}

}  // namespace

Library* libraryOpen(const char* fileName, char* reason, size_t size) {
  void* library = dlopen(fileName, RTLD_NOW);
  if (library == nullptr) {
    // dlerror's text belongs to this thread until its next dl call.
    const char* text = dlerror();
    copyText(text != nullptr ? text : "dlopen failed without a reason", reason, size);
  }
  return static_cast<Library*>(library);
}

void* libraryLookUp(Library* library, const char* name) { return dlsym(library, name); }

void libraryUnload(Library* library) {
  if (library != nullptr) dlclose(library);
}

size_t libraryFilePath(Library* library, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  struct link_map* map = nullptr;
  if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return 0;
  return copyPath(map->l_name, buffer, size);
}

size_t moduleFilePath(char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&moduleFilePath), &info) == 0) return 0;
  return copyPath(info.dli_fname, buffer, size);
}

}  // namespace platform
}  // namespace zp
