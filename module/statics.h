// The module's static objects. They are built in one place, in a fixed order,
// before the process attach runs, and destroyed in reverse after the detach
// (module/libmain.cc). Each accessor requires the module to be loaded.
#ifndef ZP_MODULE_STATICS_H
#define ZP_MODULE_STATICS_H

#include "support/kvarray.h"
#include "support/kvcritse.h"
#include "support/kverror.h"

namespace zp {

// Guards loading of the client XA library.
KvCriticalSection& clientLibraryLock();
// The worker table's array of RmWorker pointers, and its lock.
KvArrayPVoid& workerTableArray();
KvCriticalSection& workerTableLock();
// Guards growth of the thread-record list; the innermost lock of the module.
KvCriticalSection& threadRecordLock();
// Guards binding and releasing of the trace library.
KvCriticalSection& traceLock();
// The two static error records an error list may hand out: the out-of-memory
// record (message 30190, SQLSTATE "HY001") and the fixed record, whose
// message addArgument leaves alone. Neither is ever destroyed by a list.
KvError& staticOutOfMemoryError();
KvError& staticFixedError();

}  // namespace zp

#endif  // ZP_MODULE_STATICS_H
