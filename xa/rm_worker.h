// The worker of one rmid on the GetXaSwitch path: the record that a calling
// thread and the rmid's worker thread hand back and forth through three
// semaphores, the process-wide table of records, and the worker thread itself.
#ifndef ZP_XA_RM_WORKER_H
#define ZP_XA_RM_WORKER_H

#include <atomic>
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
};

// One rmid's worker. Allocated zero-filled by dtc_xa_open and freed when
// its last reference is dropped: the table holds one while the record is
// registered, and every call that found it holds one until it returns, so a
// close never frees a record under another caller. Fields from databaseName
// to operation are the request slot: the caller writes them before it
// releases `request`, the worker writes its answer before it releases
// `reply`. The rmid and the result are held at the full width of an int, so
// no rmid aliases another and no result is cut short.
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
  uint32_t opener;           // the thread that opened the record
  bool sharesRmid;           // registered while another record carried the rmid
  platform::Thread* thread;  // joined by the retirement; null before the start
  void* moduleReference;     // keeps the module mapped while the thread lives
  // Serialises the calls on this record: one request at a time, from the
  // lookup's caller taking it to the answer being read. Held by the opener
  // from before the record is registered until the client's xa_open has
  // answered, so no call reaches a worker whose open has not completed.
  platform::LockStorage callLock;
  bool closed GUARDED_BY(callLock);   // retired: every call answers XAER_RMERR
  bool running GUARDED_BY(callLock);  // the thread has signalled readiness
  bool ended GUARDED_BY(callLock);    // the thread was found ended, unasked
  // Set, for a thread that never signalled readiness, before its exit
  // request is posted: a worker whose wait for a request fails then ends on
  // its own instead of retrying, so the retirement's join never depends on a
  // wait that keeps failing.
  std::atomic<bool> exiting;
  std::atomic<uint32_t> references;
};

// A new record opened by the calling thread, with its call lock initialised
// and held by that thread, and one reference, the caller's. Null when it cannot be allocated
// (reportOutOfMemory has been called).
RmWorker* create_rm_worker(int32_t rmid);

// States, for the compiler's lock analysis, that the calling thread holds
// worker's call lock where a holder it cannot follow took it (a record from
// create_rm_worker, a call that found its worker). Generates no code.
inline void call_lock_held(const RmWorker* worker) ASSERT_CAPABILITY(worker->callLock) {
  static_cast<void>(worker);
}

// The worker of rmid for the calling thread: the first record in table order
// that carries rmid and that this thread opened, or else the first record that
// carries rmid. So a thread that opened the rmid reaches its own worker,
// while any other thread (a coordinator's) reaches the rmid's first one. The
// record comes with one more reference that the caller drops with
// unref_rm_worker. Returns
// XA_OK with *worker set, or XAER_RMERR with *worker null. Takes the table
// lock for the search only. The record may have been retired since: callers
// check `closed` under its call lock.
int32_t find_rm_worker(int32_t rmid, RmWorker** worker);

// Drops one reference; the last one closes the record's semaphores, destroys
// its call lock and frees it.
void unref_rm_worker(RmWorker* worker);

// Appends worker at the end of the table, which takes a reference on it.
// Returns false when the table cannot grow (reportOutOfMemory has been called).
bool register_rm_worker(RmWorker* worker);

// Hands the filled request slot to the worker and waits for its answer. A
// failed wait is waited again: the slot must not be read or reused before
// the worker has answered. Returns false, with `ended` set and no answer,
// when the worker's thread has ended without answering (on Windows, every
// other thread is ended before the libraries see the process exit).
bool post_rm_request(RmWorker* worker) REQUIRES(worker->callLock);

// Starts the worker thread of a registered record and runs the start-up
// exchange: semaphores, a reference on the module, the thread, its readiness
// and one empty request. Returns false when any step failed; the record is
// then retired already.
bool start_rm_worker(RmWorker* worker) REQUIRES(worker->callLock);

// Ends the record's life as a worker: withdraws it from the table (dropping
// the table's reference), ends and joins its thread if it has one, gives up
// the module reference and marks it closed. Once it returns, no code of the
// module runs on that thread. Idempotent.
void retire_rm_worker(RmWorker* worker) REQUIRES(worker->callLock);

// The worker thread's routine; argument is the record.
uint32_t rmWorkerMain(void* argument);

}  // namespace zp

#endif  // ZP_XA_RM_WORKER_H
