// Fault injection for tests: the allocation function and the platform calls
// that can fail ask here before they act, so a test can make the N-th call of
// a kind fail without a real shortage. Disarmed, a check is one atomic load.
#ifndef ZP_PLATFORM_FAULT_H
#define ZP_PLATFORM_FAULT_H

#include <cstdint>

namespace zp {
namespace fault {

enum class Point : int {
  kAllocation = 0,   // every allocation of the module
  kLibraryLoad,      // platform::libraryLoad
  kThreadCreate,     // platform::threadStartDetached and threadStart
  kSemaphoreCreate,  // platform::semaphoreCreate
  kSemaphoreWait,    // platform::semaphoreWait
  kLibrarySymbol,    // platform::librarySymbol
  kFileOpen,         // opening a file the module writes to
  kFileWrite,        // writing to such a file
  kTimeQuery,        // platform::localTimeNow
  kEnvironmentGet,   // platform::environmentGet
  kEnvironmentSet,   // platform::environmentSet
  kThreadJoin,       // platform::threadJoin
  kCount
};

// A short name of point for reports ("allocation", "library symbol", ...).
const char* pointName(Point point);

// Makes the nth call of point from now on fail (1 = the very next call) and
// restarts its call count. With persistent set, that call and every later one
// fail until disarm. nth 0 disarms the point.
void arm(Point point, uint32_t nth, bool persistent = false);
// Disarms every point. Call counts are kept.
void disarmAll();
// Number of calls of point since it was last armed or its count was reset.
uint32_t calls(Point point);
void resetCalls(Point point);

// Called by the implementation of point once per call: counts it and returns
// true when this call is to fail.
bool shouldFail(Point point);

}  // namespace fault
}  // namespace zp

#endif  // ZP_PLATFORM_FAULT_H
