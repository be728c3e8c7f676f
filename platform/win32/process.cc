// Process and thread ids, environment and local time on Windows.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {

uint32_t currentProcessId() { return GetCurrentProcessId(); }

uint32_t currentThreadId() { return GetCurrentThreadId(); }

size_t environmentGet(const char* name, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  // A failed query reads as an absent variable.
  if (fault::shouldFail(fault::Point::kEnvironmentGet)) return 0;
  const DWORD result = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
  if (result == 0) return 0;
  if (result >= size) {
    // Too long: GetEnvironmentVariableA returned the size it needs, with the
    // terminator.
    if (size != 0) buffer[0] = '\0';
    return result - 1;
  }
  return result;
}

bool environmentSet(const char* name, const char* value) {
  if (fault::shouldFail(fault::Point::kEnvironmentSet)) return false;
  // _putenv_s keeps the C runtime's copy in step with the process block.
  return _putenv_s(name, value == nullptr ? "" : value) == 0 &&
         SetEnvironmentVariableA(name, value) != 0;
}

size_t processAccountName(char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  DWORD length = static_cast<DWORD>(size);
  // On success length counts the terminator.
  if (!GetUserNameA(buffer, &length) || length == 0) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}

bool localTimeNow(LocalTime* out) {
  if (fault::shouldFail(fault::Point::kTimeQuery)) return false;
  const std::time_t now = std::time(nullptr);
  struct tm parts;
  if (now == static_cast<std::time_t>(-1) || localtime_s(&parts, &now) != 0) return false;
  copyLocalTime(parts, out);
  return true;
}

}  // namespace platform
}  // namespace zp
