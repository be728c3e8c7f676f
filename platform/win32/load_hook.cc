// DllMain: the module's process attach and process detach.
#include <windows.h>

#include "module/libmain.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      if (zp::moduleLoad(instance)) return TRUE;
      // The loader does not send a detach after a refused attach from the CRT
      // entry in every case, so undo the load here.
      zp::moduleUnload();
      return FALSE;
    case DLL_PROCESS_DETACH:
      zp::moduleUnload();
      return TRUE;
    default:
      return TRUE;  // thread attach and detach change nothing
  }
}
