// The shared library's load and unload hooks on Linux: the same steps as
// DllMain's process attach and process detach. Besides platform/, the two
// load_hook_* files are the only code that sees a load-time constructor or
// DllMain; they are linked into the shared library alone.
#include "module/libmain.h"

namespace {

__attribute__((constructor)) void zpModuleConstructor() {
  if (!zp::moduleLoad(nullptr)) zp::moduleUnload();
}

__attribute__((destructor)) void zpModuleDestructor() { zp::moduleUnload(); }

}  // namespace
