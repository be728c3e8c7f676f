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
#include "support/alloc.h"
#include "support/kvcritse.h"
#include "support/perthred.h"
#include "xa/client_library.h"

namespace zp {

namespace {

// rmids[i] is the rmid of the table's element i. Guarded by the table lock.
struct RmidIndex {
  int32_t* rmids;
  uint32_t capacity;
};
RmidIndex g_rmidIndex;  // zero at load

// REQUIRES: table lock. Gives the index room for capacity rmids, keeping its
// first count.
bool reserve_index(uint32_t capacity, uint32_t count) {
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

// REQUIRES: table lock. Index of the first of count entries that holds rmid,
// or count. Blocks of eight are tested without branches between them, which
// the compiler turns into vector compares.
uint32_t first_index_of(int32_t rmid, uint32_t count) {
  constexpr uint32_t kBlock = 8;
  const int32_t* rmids = g_rmidIndex.rmids;
  uint32_t i = 0;
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

// REQUIRES: table lock. Removes this record (by identity) from the table and
// the index; false when it is not there.
bool remove_from_table(RmWorker* worker) {
  KvArrayPVoid& table = workerTableArray();
  const uint32_t count = table.count();
  for (uint32_t i = 0; i < count; ++i) {
    if (table.at(i) != worker) continue;
    table.removeAt(i);
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

// The worker's waits are retried: a wait that returns without the semaphore
// gives no request to act on, and the record stays valid while the worker
// waits, because nobody frees it before the worker has answered.
void wait_for(platform::Semaphore* semaphore) {
  while (!platform::semaphoreWait(semaphore)) {
  }
}

void* call_accessor(const char* exportName, char* dbname) {
  ClientAccessor accessor = client_accessor(exportName);
  return accessor == nullptr ? nullptr : accessor(dbname);
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
      std::strncpy(closeString, text, sizeof closeString - 1);
      closeString[sizeof closeString - 1] = '\0';
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
      worker->environment = call_accessor(kXaoEnvName, worker->databaseName);
      break;
    case kRmServiceContext:
      worker->serviceContext = call_accessor(kXaoSvcCtxName, worker->databaseName);
      break;
    default:  // start-up and exit: nothing to do but answer
      break;
  }
}

}  // namespace

int32_t find_rm_worker(int32_t rmid, RmWorker** worker) {
  *worker = nullptr;
  {
    KvLockGuard guard(workerTableLock());
    KvArrayPVoid& table = workerTableArray();
    const uint32_t count = table.count();
    const uint32_t index = first_index_of(rmid, count);
    if (index < count) *worker = static_cast<RmWorker*>(table.at(index));
  }
  return *worker != nullptr ? XA_OK : XAER_RMERR;
}

bool register_rm_worker(RmWorker* worker) {
  KvLockGuard guard(workerTableLock());
  KvArrayPVoid& table = workerTableArray();
  const uint32_t count = table.count();
  if (table.insertAt(worker, count) != 0) return false;
  // The index follows the array's capacity; when it cannot, the append is undone.
  if (!reserve_index(table.capacity(), count)) {
    table.removeAt(count);
    return false;
  }
  g_rmidIndex.rmids[count] = worker->rmid;
  return true;
}

void withdraw_rm_worker(RmWorker* worker) {
  KvLockGuard guard(workerTableLock());
  remove_from_table(worker);
}

void destroy_rm_worker(RmWorker* worker) {
  platform::semaphoreClose(worker->reply);
  platform::semaphoreClose(worker->request);
  platform::semaphoreClose(worker->ready);
  release(worker);
}

void post_rm_request(RmWorker* worker) {
  platform::semaphoreRelease(worker->request);
  wait_for(worker->reply);
}

int32_t tear_down_rm_worker(RmWorker** worker) {
  RmWorker* record = *worker;
  record->operation = kRmExit;
  // Once it has answered, the worker touches the record no more.
  post_rm_request(record);
  withdraw_rm_worker(record);
  destroy_rm_worker(record);
  *worker = nullptr;
  return XA_OK;
}

RmStart start_rm_worker(RmWorker* worker) {
  worker->operation = kRmStartUp;
  if (!platform::threadStartDetached(rmWorkerMain, worker, &worker->threadId)) {
    return RmStart::kNoThread;
  }
  if (!platform::semaphoreWait(worker->ready)) {
    // The thread may be running already, or about to: it keeps the record.
    // Withdrawn first, so no lookup finds it; the request posted last hands
    // it over, and the thread frees it.
    withdraw_rm_worker(worker);
    worker->operation = kRmAbandon;
    platform::semaphoreRelease(worker->request);
    return RmStart::kNotReady;
  }
  post_rm_request(worker);
  return RmStart::kRunning;
}

uint32_t rmWorkerMain(void* argument) {
  auto* worker = static_cast<RmWorker*>(argument);
  platform::semaphoreRelease(worker->ready);
  for (;;) {
    wait_for(worker->request);
    const int32_t operation = worker->operation;
    if (operation == kRmAbandon) {
      destroy_rm_worker(worker);
      return 0;
    }
    carry_out(worker, operation);
    // After this release the record may be freed at once.
    platform::semaphoreRelease(worker->reply);
    if (operation == kRmExit) return 0;
  }
}

}  // namespace zp
