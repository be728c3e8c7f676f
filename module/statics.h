// The module's static objects. They are built in one place, in a fixed order,
// before the process attach runs, and destroyed in reverse after the detach
// (module/libmain.cc). Each accessor requires the module to be loaded. The
// objects support/ needs (the thread-record lock, the two static error
// records) are declared in support's own headers, which this one includes.
#ifndef ZP_MODULE_STATICS_H
#define ZP_MODULE_STATICS_H

#include "support/kvarray.h"
#include "support/kvcritse.h"
#include "support/kverror.h"
#include "support/perthred.h"

namespace zp {

// Guards loading of the client XA library.
KvCriticalSection& clientLibraryLock();
// The worker table's array of RmWorker pointers, and its lock.
KvArrayPVoid& workerTableArray();
KvCriticalSection& workerTableLock();
// Guards binding and releasing of the trace library.
KvCriticalSection& traceLock();

}  // namespace zp

#endif  // ZP_MODULE_STATICS_H
