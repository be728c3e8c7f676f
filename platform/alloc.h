// The one allocation function of the module, at the ground floor so that the
// platform backends use it too. Every heap allocation, in every
// subsystem, goes through allocate / reallocate and back through release, so
// that a test can make any single allocation fail (platform/fault.h).
#ifndef ZP_PLATFORM_ALLOC_H
#define ZP_PLATFORM_ALLOC_H

#include <cstddef>

namespace zp {

// Uninitialised storage of size bytes (one byte when size is 0), or null.
// Reports nothing: callers report failure through reportOutOfMemory.
void* allocate(size_t size);
// Resizes storage from allocate, keeping its contents. Returns null and
// leaves the old block untouched on failure.
void* reallocate(void* block, size_t size);
// Releases storage from allocate or reallocate; null is ignored.
void release(void* block);

// Blocks from allocate and reallocate not released yet, counted over the
// whole process; tests compare it before and after an operation to find a
// block that a failure path forgot.
long allocationsOutstanding();

}  // namespace zp

#endif  // ZP_PLATFORM_ALLOC_H
