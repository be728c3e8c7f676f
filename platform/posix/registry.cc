// Machine-wide settings on Linux: there is no registry, so nothing is found.
#include "platform/platform.h"

namespace zp {
namespace platform {

size_t registryReadMachineString(const char*, const char*, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  return 0;
}

bool registryReadMachineNumber(const char*, const char*, uint32_t*) { return false; }

RegistrySetting registryReadMachineSetting(const char*, const char*, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  return RegistrySetting::kAbsent;
}

bool registryWriteMachineString(const char*, const char*, const char*) { return false; }

bool registryDeleteMachineValue(const char*, const char*) { return false; }

}  // namespace platform
}  // namespace zp
