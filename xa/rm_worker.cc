// The worker record's table, its teardown, and the worker thread.
//
// The table is the static pointer array of module/statics.h, in registration
// order. Beside it, under the same lock, runs an index of the records' rmids
// in the same order: a lookup walks that compact array instead of touching
// every record, so a call costs little more with a thousand rmids open than
// with one. The index is released whenever the table becomes empty.
#include "xa/rm_worker.h"

#include <cstring>

#include "module/statics.h"
#include "platform/alloc.h"
#include "support/bytes.h"
#include "support/kvcritse.h"
#include "support/perthred.h"
#include "xa/client_library.h"

namespace zp {

namespace {

// rmids[i] is the rmid of the table's element i.
struct RmidIndex {
  int32_t* rmids;
  uint32_t capacity;
};
RmidIndex g_rmidIndex GUARDED_BY(workerTableLock());  // zero at load
// Records in the table whose sharesRmid is set. Whenever two records carry
// one rmid, the later was registered while the earlier was there, so this is
// 0 only when every rmid has one record.
uint32_t g_sharingRecords GUARDED_BY(workerTableLock());

// Gives the index room for capacity rmids, keeping its first count.
bool reserve_index(uint32_t capacity, uint32_t count) REQUIRES(workerTableLock()) {
  if (capacity <= g_rmidIndex.capacity) return true;
  auto* rmids = static_cast<int32_t*>(allocate(sizeof(int32_t) * capacity));
  if (rmids == nullptr) {
    reportOutOfMemory();
    return false;
  }
  if (count != 0) std::memcpy(rmids, g_rmidIndex.rmids, sizeof(int32_t) * count);
  release(g_rmidIndex.rmids);
  g_rmidIndex.rmids = rmids;
  g_rmidIndex.capacity = capacity;
  return true;
}

// Index of the first entry from `from` below count that holds rmid, or
// count. Blocks of eight are tested without branches between them, which the
// compiler turns into vector compares.
uint32_t first_index_of(int32_t rmid, uint32_t from, uint32_t count) REQUIRES(workerTableLock()) {
  constexpr uint32_t kBlock = 8;
  const int32_t* rmids = g_rmidIndex.rmids;
  uint32_t i = from;
  for (; i + kBlock <= count; i += kBlock) {
    int hit = 0;
    for (uint32_t j = 0; j < kBlock; ++j) hit |= rmids[i + j] == rmid;
    if (hit != 0) break;
  }
  for (; i < count; ++i) {
    if (rmids[i] == rmid) return i;
  }
  return count;
}

// Removes this record (by identity) from the table and the index; false when
// it is not there.
bool remove_from_table(RmWorker* worker) REQUIRES(workerTableLock()) {
  KvArrayPVoid& table = workerTableArray();
  const uint32_t count = table.count();
  for (uint32_t i = 0; i < count; ++i) {
    if (table.at(i) != worker) continue;
    table.removeAt(i);
    if (worker->sharesRmid) --g_sharingRecords;
    std::memmove(g_rmidIndex.rmids + i, g_rmidIndex.rmids + i + 1,
                 sizeof(int32_t) * (count - i - 1));
    if (count == 1) {
      release(g_rmidIndex.rmids);
      g_rmidIndex.rmids = nullptr;
      g_rmidIndex.capacity = 0;
    }
    return true;
  }
  return false;
}

// Runs one request on the worker thread through the client's switch.
void carry_out(RmWorker* worker, int32_t operation) {
  xa_switch_t* client = client_switch();
  const int rmid = worker->rmid;
  const long flags = worker->flags;
  switch (operation) {
    case kRmOpen:
      worker->result = client->xa_open_entry(worker->openString, rmid, flags);
      break;
    case kRmClose: {
      // The client gets a copy it may write to, never the module's constant.
      char closeString[MAXINFOSIZE];
      const char* text = client_close_string_flag() ? kCloseString : worker->openString;
      copyBounded(closeString, sizeof closeString, text);
      worker->result = client->xa_close_entry(closeString, rmid, flags);
      break;
    }
    case kRmStart:
      worker->result = client->xa_start_entry(worker->xid, rmid, flags);
      break;
    case kRmEnd:
      worker->result = client->xa_end_entry(worker->xid, rmid, flags);
      break;
    case kRmCommit:
      worker->result = client->xa_commit_entry(worker->xid, rmid, flags);
      break;
    case kRmRollback:
      worker->result = client->xa_rollback_entry(worker->xid, rmid, flags);
      break;
    case kRmPrepare:
      worker->result = client->xa_prepare_entry(worker->xid, rmid, flags);
      break;
    case kRmRecover:
      worker->result = client->xa_recover_entry(worker->xid, worker->count, rmid, flags);
      break;
    case kRmForget:
      worker->result = client->xa_forget_entry(worker->xid, rmid, flags);
      break;
    case kRmComplete:
      worker->result = client->xa_complete_entry(worker->handle, worker->retval, rmid, flags);
      break;
    case kRmEnvironment:
      worker->environment = call_client_accessor(kXaoEnvName, worker->databaseName);
      break;
    case kRmServiceContext:
      worker->serviceContext = call_client_accessor(kXaoSvcCtxName, worker->databaseName);
      break;
    default:  // start-up and exit: nothing to do but answer
      break;
  }
}

}  // namespace

// Returns with the call lock held, which the analysis cannot name in a result.
RmWorker* create_rm_worker(int32_t rmid) NO_THREAD_SAFETY_ANALYSIS {
  auto* worker = static_cast<RmWorker*>(allocateZeroed(sizeof(RmWorker)));
  if (worker == nullptr) return nullptr;
  worker->rmid = rmid;
  worker->opener = platform::currentThreadId();
  worker->references.store(1, std::memory_order_relaxed);
  platform::lockInit(&worker->callLock);
  platform::lockEnter(&worker->callLock);
  return worker;
}

int32_t find_rm_worker(int32_t rmid, RmWorker** worker) {
  *worker = nullptr;
  {
    KvLockGuard guard(workerTableLock());
    KvArrayPVoid& table = workerTableArray();
    const uint32_t count = table.count();
    const uint32_t first = first_index_of(rmid, 0, count);
    uint32_t index = first;
    // Only while some rmid has two records can a later one be the calling
    // thread's own: the thread's id is asked for only then.
    if (first < count && g_sharingRecords != 0) {
      const uint32_t self = platform::currentThreadId();
      while (index < count && static_cast<RmWorker*>(table.at(index))->opener != self) {
        index = first_index_of(rmid, index + 1, count);
      }
      if (index == count) index = first;
    }
    if (index < count) {
      *worker = static_cast<RmWorker*>(table.at(index));
      // Taken under the table lock, so the table's own reference is still
      // there: the count cannot have reached zero.
      (*worker)->references.fetch_add(1, std::memory_order_relaxed);
    }
  }
  return *worker != nullptr ? XA_OK : XAER_RMERR;
}

void unref_rm_worker(RmWorker* worker) {
  if (worker->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  platform::semaphoreClose(worker->reply);
  platform::semaphoreClose(worker->request);
  platform::semaphoreClose(worker->ready);
  platform::lockDestroy(&worker->callLock);
  release(worker);
}

bool register_rm_worker(RmWorker* worker) {
  KvLockGuard guard(workerTableLock());
  KvArrayPVoid& table = workerTableArray();
  const uint32_t count = table.count();
  if (table.insertAt(worker, count) != kSupportOk) return false;
  // The index follows the array's capacity; when it cannot, the append is undone.
  if (!reserve_index(table.capacity(), count)) {
    table.removeAt(count);
    return false;
  }
  worker->sharesRmid = first_index_of(worker->rmid, 0, count) < count;
  if (worker->sharesRmid) ++g_sharingRecords;
  g_rmidIndex.rmids[count] = worker->rmid;
  worker->references.fetch_add(1, std::memory_order_relaxed);
  return true;
}

bool post_rm_request(RmWorker* worker) {
  if (worker->ended) return false;
  platform::semaphoreRelease(worker->request);
  for (;;) {
    switch (platform::semaphoreWaitWatching(worker->reply, worker->thread)) {
      case platform::WatchedWait::kTaken:
        return true;
      case platform::WatchedWait::kThreadEnded:
        worker->ended = true;
        return false;
      case platform::WatchedWait::kFailed:
        break;  // no answer taken: the wait is made again
    }
  }
}

bool start_rm_worker(RmWorker* worker) {
  worker->reply = platform::semaphoreCreate();
  if (worker->reply != nullptr) worker->request = platform::semaphoreCreate();
  if (worker->request != nullptr) worker->ready = platform::semaphoreCreate();
  if (worker->ready != nullptr) worker->moduleReference = platform::moduleReferenceAcquire();
  if (worker->moduleReference != nullptr) {
    worker->operation = kRmStartUp;
    worker->thread = platform::threadStart(rmWorkerMain, worker, &worker->threadId);
  }
  if (worker->thread == nullptr || !platform::semaphoreWait(worker->ready)) {
    retire_rm_worker(worker);
    return false;
  }
  worker->running = true;
  if (post_rm_request(worker)) return true;
  retire_rm_worker(worker);
  return false;
}

void retire_rm_worker(RmWorker* worker) {
  if (worker->closed) return;
  worker->closed = true;
  {
    KvLockGuard guard(workerTableLock());
    if (remove_from_table(worker)) {
      // The table's reference; the caller still holds one of its own.
      worker->references.fetch_sub(1, std::memory_order_relaxed);
    }
  }
  if (worker->thread != nullptr) {
    // A running worker answers its exit request, and touches the record no
    // more after that answer. One that never signalled readiness cannot be
    // relied on to answer: its exit is flagged as well as posted, and only
    // the join shows that it is done with the record.
    worker->operation = kRmExit;
    const bool answered = worker->running;
    if (answered) {
      post_rm_request(worker);  // also when the thread has ended: then the join is immediate
    } else {
      worker->exiting.store(true, std::memory_order_release);
      platform::semaphoreRelease(worker->request);
    }
    const bool joined = platform::threadJoin(worker->thread);
    worker->thread = nullptr;
    if (!joined) {
      // The thread may still be on its way out through the module's code:
      // the module stays referenced for good, deliberately. So does the
      // record when the thread may still read it.
      worker->moduleReference = nullptr;
      if (!answered) worker->references.fetch_add(1, std::memory_order_relaxed);
    }
  }
  platform::moduleReferenceRelease(worker->moduleReference);
  worker->moduleReference = nullptr;
}

uint32_t rmWorkerMain(void* argument) {
  auto* worker = static_cast<RmWorker*>(argument);
  platform::semaphoreRelease(worker->ready);
  for (;;) {
    if (!platform::semaphoreWait(worker->request)) {
      // No request was taken. Only the retirement sets the flag, and after
      // it nothing but the exit is posted, so the worker may end here.
      if (worker->exiting.load(std::memory_order_acquire)) return 0;
      continue;
    }
    const int32_t operation = worker->operation;
    if (operation == kRmExit) {
      // After this release the record may be freed at once.
      platform::semaphoreRelease(worker->reply);
      return 0;
    }
    carry_out(worker, operation);
    platform::semaphoreRelease(worker->reply);
  }
}

}  // namespace zp
