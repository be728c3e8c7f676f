// Resources and version on Linux: no string resources exist, so every lookup
// finds nothing; the version is the kernel release.
#include <sys/utsname.h>

#include <cstdlib>

#include "platform/platform.h"

namespace zp {
namespace platform {
int resourceLoadStringW(void*, uint32_t, uint16_t* buffer, int capacity) {
  if (buffer != nullptr && capacity > 0) buffer[0] = 0;
  return 0;
}

int resourceLoadStringA(void*, uint32_t, char* buffer, int capacity) {
  if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
  return 0;
}

bool versionQuery(uint32_t* major, uint32_t* minor) {
  struct utsname names;
  if (uname(&names) != 0) return false;
  char* rest = nullptr;
  *major = static_cast<uint32_t>(std::strtoul(names.release, &rest, 10));
  *minor = (rest != nullptr && *rest == '.')
               ? static_cast<uint32_t>(std::strtoul(rest + 1, nullptr, 10))
               : 0;
  return true;
}

}  // namespace platform
}  // namespace zp
