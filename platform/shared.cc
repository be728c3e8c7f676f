// The platform functions that are the same on both targets, and the helpers
// the two backends share (platform/backend.h).
#include "platform/backend.h"

#include <cstring>
#include <new>

#include "platform/alloc.h"
#include "platform/fault.h"

namespace zp {
namespace platform {
namespace {
void* g_instance;  // zero at load; set by the attach on Windows only
}  // namespace

void* moduleInstance() { return g_instance; }

void moduleInstanceSet(void* instance) { g_instance = instance; }

void copyLocalTime(const std::tm& parts, LocalTime* out) {
  out->year = parts.tm_year + 1900;
  out->month = parts.tm_mon;
  out->monthDay = parts.tm_mday;
  out->weekDay = parts.tm_wday;
  out->hour = parts.tm_hour;
  out->minute = parts.tm_min;
  out->second = parts.tm_sec;
}

Library* libraryLoadExplained(const char* fileName, char* reason, size_t size) {
  if (size != 0) reason[0] = '\0';
  if (fault::shouldFail(fault::Point::kLibraryLoad)) {
    copyText("refused by the test fault hook", reason, size);
    return nullptr;
  }
  if (fileName == nullptr) return nullptr;
  return libraryOpen(fileName, reason, size);
}

void* librarySymbol(Library* library, const char* name) {
  if (fault::shouldFail(fault::Point::kLibrarySymbol)) return nullptr;
  if (library == nullptr || name == nullptr) return nullptr;
  return libraryLookUp(library, name);
}

void copyText(const char* text, char* buffer, size_t size) {
  if (size == 0) return;
  const size_t length = std::strlen(text);
  const size_t kept = length < size ? length : size - 1;
  std::memcpy(buffer, text, kept);
  buffer[kept] = '\0';
}

Library* libraryLoad(const char* fileName) { return libraryLoadExplained(fileName, nullptr, 0); }

LockedFileStatus lockedFileOpen(const char* path, bool create, LockedFile** file, uint32_t* holder,
                                char* reason, size_t size) {
  copyText("", reason, size);
  *file = nullptr;
  *holder = 0;
  if (path == nullptr || path[0] == '\0') {
    copyText("no file name", reason, size);
    return LockedFileStatus::kFailed;
  }
  if (fault::shouldFail(fault::Point::kFileOpen)) {
    copyText("cannot open (test fault)", reason, size);
    return LockedFileStatus::kFailed;
  }
  intptr_t handle = 0;
  const LockedFileStatus status = lockedFileOpenSystem(path, create, &handle, holder, reason, size);
  if (status != LockedFileStatus::kOpened) return status;
  void* block = allocate(sizeof(LockedFile));
  if (block == nullptr) {
    copyText("out of memory", reason, size);
    lockedFileCloseSystem(handle);
    return LockedFileStatus::kFailed;
  }
  *file = new (block) LockedFile{handle};
  return LockedFileStatus::kOpened;
}

void lockedFileClose(LockedFile* file) {
  if (file == nullptr) return;
  lockedFileCloseSystem(file->handle);
  file->~LockedFile();
  release(file);
}

}  // namespace platform
}  // namespace zp
