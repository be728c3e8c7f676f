// What the two platform backends share: helpers that are the same on both
// targets, implemented once in platform/shared.cc. Only platform/ includes
// this header; the rest of the module sees platform/platform.h alone.
#ifndef ZP_PLATFORM_BACKEND_H
#define ZP_PLATFORM_BACKEND_H

#include <cstddef>
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

// Windows only: the system handle of a joinable thread (thread.cc), which
// semaphore.cc waits on beside a semaphore.
void* threadSystemHandle(Thread* thread);

}  // namespace platform
}  // namespace zp

#endif  // ZP_PLATFORM_BACKEND_H
