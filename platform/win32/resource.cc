// String resources and the version query on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace zp {
namespace platform {
int resourceLoadStringW(void* instance, uint32_t id, uint16_t* buffer, int capacity) {
  return LoadStringW(static_cast<HINSTANCE>(instance), id, reinterpret_cast<wchar_t*>(buffer),
                     capacity);
}

int resourceLoadStringA(void* instance, uint32_t id, char* buffer, int capacity) {
  return LoadStringA(static_cast<HINSTANCE>(instance), id, buffer, capacity);
}

bool versionQuery(uint32_t* major, uint32_t* minor) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  if (!GetVersionExA(&info)) return false;
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  return true;
}

}  // namespace platform
}  // namespace zp
