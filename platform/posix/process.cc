// Process and thread ids, environment and local time on Linux.
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zp {
namespace platform {

uint32_t currentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t currentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

size_t environmentGet(const char* name, char* buffer, size_t size) {
  if (size != 0) buffer[0] = '\0';
  // A failed query reads as an absent variable.
  if (fault::shouldFail(fault::Point::kEnvironmentGet)) return 0;
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  const size_t length = std::strlen(value);
  if (length < size) std::memcpy(buffer, value, length + 1);
  return length;
}

bool environmentSet(const char* name, const char* value) {
  if (fault::shouldFail(fault::Point::kEnvironmentSet)) return false;
  return (value == nullptr ? unsetenv(name) : setenv(name, value, 1)) == 0;
}

size_t processAccountName(char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  struct passwd entry;
  struct passwd* found = nullptr;
  char scratch[4096];
  if (getpwuid_r(geteuid(), &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr ||
      found->pw_name == nullptr) {
    return 0;
  }
  const size_t length = std::strlen(found->pw_name);
  if (length >= size) return 0;
  std::memcpy(buffer, found->pw_name, length + 1);
  return length;
}

bool localTimeNow(LocalTime* out) {
  if (fault::shouldFail(fault::Point::kTimeQuery)) return false;
  const std::time_t now = std::time(nullptr);
  struct tm parts;
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &parts) == nullptr) return false;
  copyLocalTime(parts, out);
  return true;
}

size_t processFilePath(char* buffer, size_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  const ssize_t length = readlink("/proc/self/exe", buffer, size);
  // readlink does not terminate; a result that fills the buffer may be cut.
  if (length <= 0 || static_cast<size_t>(length) >= size) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return static_cast<size_t>(length);
}

}  // namespace platform
}  // namespace zp
