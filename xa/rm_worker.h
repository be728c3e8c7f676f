// The worker of one rmid on the GetXaSwitch path: the record that a calling
// thread and the rmid's worker thread hand back and forth through three
// semaphores, the process-wide table of records, and the worker thread itself.
#ifndef ZP_XA_RM_WORKER_H
#define ZP_XA_RM_WORKER_H

#include <cstdint>

#include "platform/platform.h"
#include "zpor8dtc23/xa.h"

namespace zp {

// Operation codes of a request.
enum RmOperation : int32_t {
  kRmOpen = 0,
  kRmClose = 1,
  kRmStart = 2,
  kRmEnd = 3,
  kRmCommit = 4,
  kRmRollback = 5,
  kRmPrepare = 6,
  kRmRecover = 7,
  kRmForget = 8,
  kRmComplete = 9,
  kRmEnvironment = 10,
  kRmServiceContext = 11,
  kRmStartUp = 12,
  kRmExit = 13,
  // The creator gave up on the worker before it ran (its readiness could not
  // be awaited): the worker frees its own record and ends, answering nobody.
  kRmAbandon = 14,
};

// One rmid's worker. Allocated zero-filled by dtc_xa_open, freed by the
// teardown (or, for an abandoned worker, by its own thread). Fields from
// databaseName to operation are the request slot: the caller writes them
// before it releases `request`, the worker writes its answer before it
// releases `reply`. The rmid and the result are held at the full width of
// an int, so no rmid aliases another and no result is cut short.
struct RmWorker {
  char openString[MAXINFOSIZE];  // the filtered xa_info, terminated
  char* databaseName;            // for the accessors; not owned
  int32_t rmid;
  long flags;
  int32_t result;
  int* retval;  // not owned
  int* handle;  // not owned
  XID* xid;     // for recover: the caller's array; not owned
  long count;
  void* environment;
  void* serviceContext;
  int32_t operation;             // RmOperation
  platform::Semaphore* reply;    // worker -> caller, once per request
  platform::Semaphore* request;  // caller -> worker, once per request
  platform::Semaphore* ready;    // worker -> creator, once
  uint32_t threadId;
};

// The worker of rmid: the first record in table order that carries it.
// Returns XA_OK with *worker set, or XAER_RMERR with *worker null. Takes the
// table lock for the search only.
int32_t find_rm_worker(int32_t rmid, RmWorker** worker);

// Appends worker at the end of the table. Returns false when the table
// cannot grow (reportOutOfMemory has been called).
bool register_rm_worker(RmWorker* worker);

// Removes this very record from the table, if it is there. Other records
// with the same rmid stay.
void withdraw_rm_worker(RmWorker* worker);

// Closes the semaphores the record holds and frees it. REQUIRES: no thread
// uses the record any more and it is not in the table.
void destroy_rm_worker(RmWorker* worker);

// Hands the filled request slot to the worker and waits for its answer. A
// failed wait is waited again: the slot must not be read or reused before
// the worker has answered.
void post_rm_request(RmWorker* worker);

// Ends a running worker (exit exchange), removes the record from the table,
// closes its semaphores, frees it and nulls *worker. Returns XA_OK.
int32_t tear_down_rm_worker(RmWorker** worker);

enum class RmStart { kRunning, kNoThread, kNotReady };

// Starts the thread of a registered record whose semaphores exist and runs
// the start-up exchange. kNoThread: no thread was made, the caller still owns
// everything. kNotReady: the thread exists but its readiness could not be
// awaited; the record has been withdrawn from the table and handed to the
// thread, which frees it, so the caller must not touch it again.
RmStart start_rm_worker(RmWorker* worker);

// The worker thread's routine; argument is the record.
uint32_t rmWorkerMain(void* argument);

}  // namespace zp

#endif  // ZP_XA_RM_WORKER_H
