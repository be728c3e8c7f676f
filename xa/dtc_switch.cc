// GetXaSwitch, its ten worker-routed entries, and the worker-thread accessors
// hkXaoEnv / hkXaoSvcCtx. No entry calls the client on the caller's thread:
// each writes its request into the rmid's worker record and waits for the
// worker's answer. Nothing on this path traces; the diagnostic log sees
// every open and close and each failed call.
#include "xa/dtc_switch.h"

#include <cstring>

#include "module/diag_log.h"
#include "module/libmain.h"
#include "platform/alloc.h"
#include "support/perthred.h"
#include "xa/client_library.h"
#include "xa/open_string.h"
#include "xa/rm_worker.h"
#include "xa/switch_record.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {

namespace {

// One call's hold on an rmid's worker: a reference that keeps the record
// alive, and the record's call lock, which keeps other calls out until this
// one has its answer. worker() is null when the rmid has no worker, or had
// one that was retired before this call's turn came.
class WorkerCall {
 public:
  // Holds the call lock only when a worker is found and open, which the
  // analysis cannot follow; callers state it with call_lock_held.
  explicit WorkerCall(int32_t rmid) NO_THREAD_SAFETY_ANALYSIS {
    if (find_rm_worker(rmid, &worker_) != XA_OK) return;
    platform::lockEnter(&worker_->callLock);
    if (!worker_->closed) return;
    end();
  }
  ~WorkerCall() {
    if (worker_ != nullptr) end();
  }
  WorkerCall(const WorkerCall&) = delete;
  WorkerCall& operator=(const WorkerCall&) = delete;

  RmWorker* worker() const { return worker_; }

 private:
  void end() NO_THREAD_SAFETY_ANALYSIS {
    platform::lockLeave(&worker_->callLock);
    unref_rm_worker(worker_);
    worker_ = nullptr;
  }

  RmWorker* worker_ = nullptr;
};

// Writes a switch request's common fields into worker, posts it and returns
// the worker's result.
int ask_worker(RmWorker* worker, int32_t operation, int rmid, long flags)
    REQUIRES(worker->callLock) {
  worker->operation = operation;
  worker->rmid = rmid;
  worker->flags = flags;
  // A worker whose thread has ended answers as a closed rmid would.
  if (!post_rm_request(worker)) return XAER_RMERR;
  return worker->result;
}

// dtc_xa_open after its scratch buffer (MAXINFOSIZE zero bytes) is had, for
// a new record whose call lock this thread holds. Returns the client's
// xa_open result, or XAER_RMERR when the worker could not be made to ask it.
int open_worker(RmWorker* worker, const char* xaInfo, int rmid, long flags, char* scratch)
    REQUIRES(worker->callLock) {
  if (!register_rm_worker(worker)) return XAER_RMERR;
  if (!start_rm_worker(worker)) return XAER_RMERR;
  // A string refused for its prefix reaches the client empty; one that does
  // not fit is refused outright, since a cut string would open the wrong thing.
  const auto length = static_cast<uint32_t>(std::strlen(xaInfo));
  if (parse_open_options(xaInfo, length, scratch, MAXINFOSIZE) == kOpenStringTooLong) {
    return XAER_RMERR;
  }
  std::memcpy(worker->openString, scratch, MAXINFOSIZE);
  return ask_worker(worker, kRmOpen, rmid, flags);
}

// Finds rmid's worker, lets fill write the request's own arguments, and asks.
template <typename Fill>
int post_switch_request(int32_t operation, int rmid, long flags, Fill fill) {
  WorkerCall call(rmid);
  if (call.worker() == nullptr) return XAER_RMERR;
  call_lock_held(call.worker());
  fill(call.worker());
  return ask_worker(call.worker(), operation, rmid, flags);
}

constexpr char kDiagSwitch[] = "dtc";

const char* operation_name(int32_t operation) {
  switch (operation) {
    case kRmStart:
      return "xa_start";
    case kRmEnd:
      return "xa_end";
    case kRmCommit:
      return "xa_commit";
    case kRmRollback:
      return "xa_rollback";
    case kRmPrepare:
      return "xa_prepare";
    case kRmRecover:
      return "xa_recover";
    case kRmForget:
      return "xa_forget";
    case kRmComplete:
      return "xa_complete";
    default:
      return "xa_call";
  }
}

// The call's line in the diagnostic log; the caller has seen the log on.
[[gnu::noinline, gnu::cold]] void log_call(int32_t operation, const XID* xid, int rmid, long flags,
                                           int result) {
  diag_log_call(kDiagSwitch, operation_name(operation), xid, rmid, flags, result,
                operation == kRmRecover);
}

int post_xid_request(int32_t operation, XID* xid, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  int result = XAER_RMERR;
  if (xid != nullptr) {
    // Written before the lookup, so also for an rmid without a worker.
    xid->bqual_length = kDtcBqualLength;
    result =
        post_switch_request(operation, rmid, flags, [xid](RmWorker* worker) { worker->xid = xid; });
  }
  if (diag_log_level() != kDiagOff) log_call(operation, xid, rmid, flags, result);
  return result;
}

// An accessor request: null without a worker; otherwise the handle the
// client's export gave on the worker thread (null when it lacks the export).
void* post_accessor_request(int32_t operation, int rmid, char* dbname) {
  const ModuleCall gate;
  if (!gate.admitted()) return nullptr;
  WorkerCall call(rmid);
  RmWorker* worker = call.worker();
  if (worker == nullptr) return nullptr;
  call_lock_held(worker);
  worker->operation = operation;
  worker->rmid = rmid;
  worker->databaseName = dbname;
  if (!post_rm_request(worker)) return nullptr;
  return operation == kRmEnvironment ? worker->environment : worker->serviceContext;
}

const XaEntrySet kDtcEntries = {dtc_xa_open,     dtc_xa_close,   dtc_xa_start,  dtc_xa_end,
                                dtc_xa_rollback, dtc_xa_prepare, dtc_xa_commit, dtc_xa_recover,
                                dtc_xa_forget,   dtc_xa_complete};

}  // namespace

int dtc_xa_open(char* xa_info, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  auto* scratch = static_cast<char*>(allocateZeroed(MAXINFOSIZE));
  if (scratch == nullptr) return XAER_RMERR;
  int result = XAER_RMERR;
  uint32_t thread = 0;
  if (load_client_xa_library() == kClientSwitchHeld) {
    RmWorker* worker = create_rm_worker(rmid);
    if (worker != nullptr) {
      call_lock_held(worker);
      result = open_worker(worker, xa_info != nullptr ? xa_info : "", rmid, flags, scratch);
      thread = worker->threadId;
      // The record stays a worker only when the client's xa_open succeeded:
      // a failed open leaves no thread behind, and the rmid's calls answer
      // XAER_RMERR without reaching the client.
      if (result != XA_OK) retire_rm_worker(worker);
      platform::lockLeave(&worker->callLock);
      unref_rm_worker(worker);
    }
  }
  release(scratch);
  if (diag_log_level() != kDiagOff) {
    diag_log_open(kDiagSwitch, xa_info, rmid, flags, client_library_description(), result, thread);
  }
  return result;
}

int dtc_xa_close(char*, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  int result = XAER_RMERR;
  uint32_t thread = 0;
  {
    WorkerCall call(rmid);
    RmWorker* worker = call.worker();
    if (worker != nullptr) {
      call_lock_held(worker);
      // The client's answer is passed on. XAER_PROTO means the client
      // refused to close in this state (a branch still active) and kept its
      // connection: the worker stays, so the branch can be finished and the
      // rmid closed again. Any other answer ends the worker, since the
      // client has closed or cannot go on; calls waiting for the record
      // meanwhile find it closed.
      thread = worker->threadId;
      result = ask_worker(worker, kRmClose, rmid, flags);
      if (result != XAER_PROTO || worker->ended) retire_rm_worker(worker);
    }
  }
  if (diag_log_level() != kDiagOff) diag_log_close(kDiagSwitch, rmid, flags, result, thread);
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
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  const int result = post_switch_request(kRmRecover, rmid, flags, [xids, count](RmWorker* worker) {
    worker->xid = xids;
    worker->count = count;
  });
  if (diag_log_level() != kDiagOff) log_call(kRmRecover, nullptr, rmid, flags, result);
  return result;
}

int dtc_xa_complete(int* handle, int* retval, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  const int result =
      post_switch_request(kRmComplete, rmid, flags, [handle, retval](RmWorker* worker) {
        worker->handle = handle;
        worker->retval = retval;
      });
  if (diag_log_level() != kDiagOff) log_call(kRmComplete, nullptr, rmid, flags, result);
  return result;
}

}  // namespace zp

extern "C" ZP_EXPORT int32_t GetXaSwitch(uint32_t, xa_switch_t** switch_out) {
  if (switch_out == nullptr) return zp::kHresultPointer;
  *switch_out = zp::fill_switch_record(zp::kDtcEntries, "GetXaSwitch");
  return zp::kHresultOk;
}

extern "C" ZP_EXPORT void* hkXaoEnv(int rmid, char* dbname) {
  return zp::post_accessor_request(zp::kRmEnvironment, rmid, dbname);
}

extern "C" ZP_EXPORT void* hkXaoSvcCtx(int rmid, char* dbname) {
  return zp::post_accessor_request(zp::kRmServiceContext, rmid, dbname);
}
