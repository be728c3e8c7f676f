// GetXaSwitch, its ten worker-routed entries, and the worker-thread accessors
// hkXaoEnv / hkXaoSvcCtx. No entry calls the client on the caller's thread:
// each writes its request into the rmid's worker record and waits for the
// worker's answer. Nothing on this path traces.
#include "xa/dtc_switch.h"

#include <cstring>

#include "support/alloc.h"
#include "support/perthred.h"
#include "xa/client_library.h"
#include "xa/open_string.h"
#include "xa/rm_worker.h"
#include "xa/switch_record.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {

namespace {

// Writes a switch request's common fields into worker, posts it and returns
// the worker's result.
int ask_worker(RmWorker* worker, int32_t operation, int rmid, long flags) {
  worker->operation = operation;
  worker->rmid = rmid;
  worker->flags = flags;
  post_rm_request(worker);
  return worker->result;
}

// Fills the semaphores of a registered record and starts its thread. On
// failure the record is gone (withdrawn and freed, or handed to its thread)
// and the result is false.
bool run_worker(RmWorker* worker) {
  worker->reply = platform::semaphoreCreate();
  if (worker->reply != nullptr) worker->request = platform::semaphoreCreate();
  if (worker->request != nullptr) worker->ready = platform::semaphoreCreate();
  const RmStart started = worker->ready != nullptr ? start_rm_worker(worker) : RmStart::kNoThread;
  if (started == RmStart::kNoThread) {
    withdraw_rm_worker(worker);
    destroy_rm_worker(worker);
  }
  return started == RmStart::kRunning;
}

// dtc_xa_open after its scratch buffer (MAXINFOSIZE zero bytes) is had.
int open_worker(const char* xaInfo, int rmid, long flags, char* scratch) {
  if (load_client_xa_library() == 0) return XAER_RMERR;
  auto* worker = static_cast<RmWorker*>(allocateZeroed(sizeof(RmWorker)));
  if (worker == nullptr) return XAER_RMERR;
  worker->rmid = rmid;
  if (!register_rm_worker(worker)) {
    release(worker);
    return XAER_RMERR;
  }
  if (!run_worker(worker)) return XAER_RMERR;
  // A string refused for its prefix reaches the client empty; one that does
  // not fit is refused outright, since a cut string would open the wrong thing.
  const auto length = static_cast<uint32_t>(std::strlen(xaInfo));
  if (parse_open_options(xaInfo, length, scratch, MAXINFOSIZE) == kOpenStringTooLong) {
    tear_down_rm_worker(&worker);
    return XAER_RMERR;
  }
  std::memcpy(worker->openString, scratch, MAXINFOSIZE);
  return ask_worker(worker, kRmOpen, rmid, flags);
}

// Finds rmid's worker, lets fill write the request's own arguments, and asks.
template <typename Fill>
int post_switch_request(int32_t operation, int rmid, long flags, Fill fill) {
  RmWorker* worker = nullptr;
  if (find_rm_worker(rmid, &worker) != XA_OK) return XAER_RMERR;
  fill(worker);
  return ask_worker(worker, operation, rmid, flags);
}

int post_xid_request(int32_t operation, XID* xid, int rmid, long flags) {
  if (xid == nullptr) return XAER_RMERR;
  // Written before the lookup, so also for an rmid without a worker.
  xid->bqual_length = kDtcBqualLength;
  return post_switch_request(operation, rmid, flags,
                             [xid](RmWorker* worker) { worker->xid = xid; });
}

// An accessor request: null without a worker; otherwise the handle the
// client's export gave on the worker thread (null when it lacks the export).
void* post_accessor_request(int32_t operation, int rmid, char* dbname) {
  RmWorker* worker = nullptr;
  if (find_rm_worker(rmid, &worker) != XA_OK) return nullptr;
  worker->operation = operation;
  worker->rmid = rmid;
  worker->databaseName = dbname;
  post_rm_request(worker);
  return operation == kRmEnvironment ? worker->environment : worker->serviceContext;
}

const XaEntrySet kDtcEntries = {dtc_xa_open,     dtc_xa_close,   dtc_xa_start,  dtc_xa_end,
                                dtc_xa_rollback, dtc_xa_prepare, dtc_xa_commit, dtc_xa_recover,
                                dtc_xa_forget,   dtc_xa_complete};

}  // namespace

int dtc_xa_open(char* xa_info, int rmid, long flags) {
  auto* scratch = static_cast<char*>(allocateZeroed(MAXINFOSIZE));
  if (scratch == nullptr) return XAER_RMERR;
  const int result = open_worker(xa_info != nullptr ? xa_info : "", rmid, flags, scratch);
  release(scratch);
  return result;
}

int dtc_xa_close(char*, int rmid, long flags) {
  RmWorker* worker = nullptr;
  if (find_rm_worker(rmid, &worker) != XA_OK) return XAER_RMERR;
  // The worker ends whatever the client answered; its answer is passed on.
  const int result = ask_worker(worker, kRmClose, rmid, flags);
  tear_down_rm_worker(&worker);
  return result;
}

int dtc_xa_start(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmStart, xid, rmid, flags);
}

int dtc_xa_end(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmEnd, xid, rmid, flags);
}

int dtc_xa_rollback(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmRollback, xid, rmid, flags);
}

int dtc_xa_prepare(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmPrepare, xid, rmid, flags);
}

int dtc_xa_commit(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmCommit, xid, rmid, flags);
}

int dtc_xa_forget(XID* xid, int rmid, long flags) {
  return post_xid_request(kRmForget, xid, rmid, flags);
}

int dtc_xa_recover(XID* xids, long count, int rmid, long flags) {
  return post_switch_request(kRmRecover, rmid, flags, [xids, count](RmWorker* worker) {
    worker->xid = xids;
    worker->count = count;
  });
}

int dtc_xa_complete(int* handle, int* retval, int rmid, long flags) {
  return post_switch_request(kRmComplete, rmid, flags, [handle, retval](RmWorker* worker) {
    worker->handle = handle;
    worker->retval = retval;
  });
}

}  // namespace zp

extern "C" ZP_EXPORT int32_t GetXaSwitch(uint32_t, xa_switch_t** switch_out) {
  if (switch_out == nullptr) return zp::kHresultPointer;
  *switch_out = zp::fill_switch_record(zp::kDtcEntries);
  return zp::kHresultOk;
}

extern "C" ZP_EXPORT void* hkXaoEnv(int rmid, char* dbname) {
  return zp::post_accessor_request(zp::kRmEnvironment, rmid, dbname);
}

extern "C" ZP_EXPORT void* hkXaoSvcCtx(int rmid, char* dbname) {
  return zp::post_accessor_request(zp::kRmServiceContext, rmid, dbname);
}
