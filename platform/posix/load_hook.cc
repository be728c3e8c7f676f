// The shared library's load and unload hooks on Linux: the same steps as
// DllMain's process attach and process detach.
#include "module/libmain.h"

namespace {

__attribute__((constructor)) void zpModuleConstructor() {
  if (!zp::moduleLoad(nullptr)) zp::moduleUnload();
}

__attribute__((destructor)) void zpModuleDestructor() { zp::moduleUnload(); }

}  // namespace
