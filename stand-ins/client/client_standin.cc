// The stand-in client XA library; see client_standin.h. Built once per
// variant (ZP_STANDIN_NO_SWITCH: no xaosw; ZP_STANDIN_NO_ACCESSORS: no xaoEnv
// or xaoSvcCtx) and linked under each candidate file name it stands in for
// (ZP_STANDIN_FILE_NAME).
#include "stand-ins/client/client_standin.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "platform/platform.h"

#ifdef _WIN32
#define STANDIN_VISIBLE __declspec(dllexport)
#else
#define STANDIN_VISIBLE __attribute__((visibility("default")))
#endif
#define STANDIN_EXPORT extern "C" STANDIN_VISIBLE

namespace {

constexpr int kMaxCalls = 8192;

StandinCall g_calls[kMaxCalls];
std::atomic<int32_t> g_callCount;
std::atomic<int32_t> g_results[kStandinOperationCount];
std::atomic_flag g_recording = ATOMIC_FLAG_INIT;

// The call to hold: operation and rmid, armed until it has been held once.
std::atomic<bool> g_holdArmed;
std::atomic<int32_t> g_holdOperation;
std::atomic<int32_t> g_holdRmid;
std::atomic<int32_t> g_held;
std::atomic<bool> g_letGo;

// Waits while the call is held; false when the limit passed first.
bool holdIfArmed(int32_t operation, int rmid) {
  if (!g_holdArmed.load() || g_holdOperation.load() != operation || g_holdRmid.load() != rmid) {
    return true;
  }
  g_holdArmed.store(false);
  g_held.store(1);
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ZP_STANDIN_HOLD_LIMIT_MS);
  bool released = true;
  while (!g_letGo.load()) {
    if (std::chrono::steady_clock::now() > limit) {
      released = false;
      break;
    }
  }
  g_held.store(0);
  return released;
}

// Records one call and returns the scripted result of its operation.
int32_t record(int32_t operation, int rmid, long flags, const void* pointer, const char* text,
               long count = 0) {
  while (g_recording.test_and_set(std::memory_order_acquire)) {
  }
  const int32_t index = g_callCount.load(std::memory_order_relaxed);
  if (index < kMaxCalls) {
    StandinCall& call = g_calls[index];
    std::memset(&call, 0, sizeof call);
    call.operation = operation;
    call.rmid = rmid;
    call.flags = flags;
    call.threadId = zp::platform::currentThreadId();
    call.pointer = pointer;
    call.count = count;
    if (pointer != nullptr && operation >= kStandinStart && operation != kStandinRecover &&
        operation != kStandinComplete && operation <= kStandinForget) {
      const XID* xid = static_cast<const XID*>(pointer);
      call.formatId = xid->formatID;
      call.gtridLength = xid->gtrid_length;
      call.bqualLength = xid->bqual_length;
    }
    call.textWasNull = text == nullptr;
    if (text != nullptr) {
      std::strncpy(call.text, text, sizeof call.text - 1);
    }
    g_callCount.store(index + 1, std::memory_order_release);
  }
  g_recording.clear(std::memory_order_release);
  if (!holdIfArmed(operation, rmid)) return ZP_STANDIN_HOLD_TIMED_OUT;
  const int32_t result = g_results[operation].load();
  if (result != ZP_STANDIN_ECHO) return result;
  if (operation == kStandinRecover) return static_cast<int32_t>(count);
  if (operation == kStandinComplete)
    return pointer != nullptr ? *static_cast<const int*>(pointer) : 0;
  if (pointer != nullptr && operation >= kStandinStart && operation <= kStandinForget) {
    return static_cast<int32_t>(static_cast<const XID*>(pointer)->formatID);
  }
  return XA_OK;
}

[[maybe_unused]] int xaOpen(char* info, int rmid, long flags) {
  return record(kStandinOpen, rmid, flags, nullptr, info);
}
[[maybe_unused]] int xaClose(char* info, int rmid, long flags) {
  return record(kStandinClose, rmid, flags, nullptr, info);
}
[[maybe_unused]] int xaStart(XID* xid, int rmid, long flags) {
  return record(kStandinStart, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaEnd(XID* xid, int rmid, long flags) {
  return record(kStandinEnd, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaRollback(XID* xid, int rmid, long flags) {
  return record(kStandinRollback, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaPrepare(XID* xid, int rmid, long flags) {
  return record(kStandinPrepare, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaCommit(XID* xid, int rmid, long flags) {
  return record(kStandinCommit, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaRecover(XID* xids, long count, int rmid, long flags) {
  return record(kStandinRecover, rmid, flags, xids, nullptr, count);
}
[[maybe_unused]] int xaForget(XID* xid, int rmid, long flags) {
  return record(kStandinForget, rmid, flags, xid, nullptr);
}
[[maybe_unused]] int xaComplete(int* handle, int* retval, int rmid, long flags) {
  (void)retval;
  return record(kStandinComplete, rmid, flags, handle, nullptr);
}

}  // namespace

#ifndef ZP_STANDIN_NO_SWITCH
extern "C" {
STANDIN_VISIBLE xa_switch_t xaosw = {"Stand-in client", TMNOFLAGS, 0,          xaOpen,    xaClose,
                                     xaStart,           xaEnd,     xaRollback, xaPrepare, xaCommit,
                                     xaRecover,         xaForget,  xaComplete};
}
#endif

#ifndef ZP_STANDIN_NO_ACCESSORS
const char g_env[] = {ZP_STANDIN_ENV_TAG, 0};
const char g_svcctx[] = {ZP_STANDIN_SVCCTX_TAG, 0};

STANDIN_EXPORT void* xaoEnv(char* dbname) {
  record(kStandinXaoEnv, 0, 0, nullptr, dbname);
  return const_cast<char*>(g_env);
}

STANDIN_EXPORT void* xaoSvcCtx(char* dbname) {
  record(kStandinXaoSvcCtx, 0, 0, nullptr, dbname);
  return const_cast<char*>(g_svcctx);
}
#endif

STANDIN_EXPORT void standin_reset(void) {
  g_callCount.store(0);
  for (auto& result : g_results) result.store(XA_OK);
}

STANDIN_EXPORT void standin_set_result(int32_t operation, int32_t result) {
  if (operation >= 0 && operation < kStandinOperationCount) g_results[operation].store(result);
}

STANDIN_EXPORT int32_t standin_call_count(void) {
  const int32_t count = g_callCount.load(std::memory_order_acquire);
  return count < kMaxCalls ? count : kMaxCalls;
}

STANDIN_EXPORT int32_t standin_get_call(int32_t index, StandinCall* out) {
  if (index < 0 || index >= standin_call_count()) return 1;
  while (g_recording.test_and_set(std::memory_order_acquire)) {
  }
  *out = g_calls[index];
  g_recording.clear(std::memory_order_release);
  return 0;
}

STANDIN_EXPORT const char* standin_name(void) { return ZP_STANDIN_FILE_NAME; }

STANDIN_EXPORT void standin_hold(int32_t operation, int32_t rmid) {
  g_letGo.store(false);
  g_holdOperation.store(operation);
  g_holdRmid.store(rmid);
  g_holdArmed.store(true);
}

STANDIN_EXPORT int32_t standin_held(void) { return g_held.load(); }

STANDIN_EXPORT void standin_let_go(void) { g_letGo.store(true); }
