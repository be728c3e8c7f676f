// DllMain: the module's process attach and process detach. Besides platform/,
// the two load_hook_* files are the only code that sees DllMain or a load-time
// constructor; they are linked into the shared library alone.
#include <windows.h>

#include "module/libmain.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      if (zp::moduleLoad(instance)) return TRUE;
      // The loader does not send a detach after a refused attach from the CRT
      // entry in every case, so undo the load here.
      zp::moduleUnload();
      return FALSE;
    case DLL_PROCESS_DETACH:
      // A reserved pointer that is not null: the process is ending.
      zp::moduleUnload(reserved != nullptr ? zp::UnloadKind::kProcessExit
                                           : zp::UnloadKind::kLibrary);
      return TRUE;
    default:
      return TRUE;  // thread attach and detach change nothing
  }
}
