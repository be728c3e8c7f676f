// What the two platform backends share: helpers that are the same on both
// targets, implemented once in platform/shared.cc. Only platform/ includes
// this header; the rest of the module sees platform/platform.h alone.
#ifndef ZP_PLATFORM_BACKEND_H
#define ZP_PLATFORM_BACKEND_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace zp {
namespace platform {

// Copies the calendar fields of parts (the C runtime's broken-down time) into
// out: the year in full, the month from 0, the week day from 0 (Sunday).
void copyLocalTime(const std::tm& parts, LocalTime* out);

// Copies text into buffer (size bytes), cut to fit and always terminated
// when size is not 0.
void copyText(const char* text, char* buffer, size_t size);

// The system's half of libraryLoadExplained and librarySymbol (library.cc of
// each backend), called after the shared checks: fileName, library and name
// are not null, and reason is already empty. libraryOpen describes a
// failure in reason.
Library* libraryOpen(const char* fileName, char* reason, size_t size);
void* libraryLookUp(Library* library, const char* name);

// A locked file (platform.h): the system's handle of the open, locked file,
// a descriptor on Linux, a HANDLE on Windows.
struct LockedFile {
  intptr_t handle;
};

// The system's half of lockedFileOpen and lockedFileClose (locked_file.cc of
// each backend). lockedFileOpenSystem is called after the shared checks: path
// is a name, the outputs are cleared and no open fault is injected. It opens,
// checks and locks the file; on kOpened *handle is the file, which the shared
// half keeps in its record, and closes with lockedFileCloseSystem (which also
// drops the lock) when the record cannot be had or the file is closed.
LockedFileStatus lockedFileOpenSystem(const char* path, bool create, intptr_t* handle,
                                      uint32_t* holder, char* reason, size_t size);
void lockedFileCloseSystem(intptr_t handle);

// Windows only: the system handle of a joinable thread (thread.cc), which
// semaphore.cc waits on beside a semaphore.
void* threadSystemHandle(Thread* thread);

}  // namespace platform
}  // namespace zp

#endif  // ZP_PLATFORM_BACKEND_H
