// Machine-wide settings on Linux: there is no registry, so nothing is found.
#include "platform/platform.h"

namespace zp {
namespace platform {

size_t registryReadMachineString(const char*, const char*, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  return 0;
}

}  // namespace platform
}  // namespace zp
