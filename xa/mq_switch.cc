// MQStart and its ten traced wrappers. Each call is counted while it runs
// (ModuleCall), so that nothing it reaches is destroyed under it at process
// exit; one that arrives once the unload has begun answers XAER_RMERR. With
// tracing and the diagnostic log off a wrapper adds that count, two tests of
// the trace flag and one of the log level to the client call; with tracing
// on it writes an entry record, data records (the XID dump, the string passed
// to close) and an exit record around the call.
#include "xa/mq_switch.h"

#include <cstdint>
#include <cstring>

#include "module/diag_log.h"
#include "module/libmain.h"
#include "platform/alloc.h"
#include "platform/platform.h"
#include "support/perthred.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"
#include "xa/client_library.h"
#include "xa/open_string.h"
#include "xa/switch_record.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {

namespace {

// "0x%0*x" values are shown with eight hexadecimal digits.
constexpr int kHexWidth = 8;

constexpr char kOpenName[] = "or8_mq_xa_open";
constexpr char kCloseName[] = "or8_mq_xa_close";
constexpr char kStringEntryFormat[] = "xa_info: %s rmid: %d flags: 0x%0*x";
constexpr char kCloseDataFormat[] = "Calling client xa_close(%s, %d, 0x%0*x)";
constexpr char kXidEntryFormat[] = "rmid: %d flags: 0x%0*x";
constexpr char kExitFormat[] = "rc = %d";

constexpr char kDiagSwitch[] = "mq";

// The call's line in the diagnostic log; the caller has seen the log on.
// function is the wrapper's name, "or8_mq_xa_start": the log shows "xa_start".
[[gnu::noinline, gnu::cold]] void log_call(const char* function, const XID* xid, int rmid,
                                           long flags, int result, bool resultIsCount) {
  constexpr size_t kWrapperPrefix = sizeof "or8_mq_" - 1;
  diag_log_call(kDiagSwitch, function + kWrapperPrefix, xid, rmid, flags, result, resultIsCount);
}

bool tracing() { return g_traceContext.enabled.load(std::memory_order_relaxed) != 0; }

// Values for %d and %x conversions are 32 bits wide on every target; an
// address shows its low 32 bits.
uint32_t hex_value(long value) { return static_cast<uint32_t>(value); }
uint32_t address_value(const void* address) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
}

using RecordWriter = void (*)(TraceContext* context, const char* function, const char* format, ...);

// A record that shows an open or close string, with its passwords masked.
// Left out when the masked copy cannot be had.
void trace_string_record(RecordWriter writer, const char* function, const char* format,
                         const char* text, int rmid, long flags) {
  MaskedOpenString shown(text);
  if (shown.text() == nullptr) return;
  writer(&g_traceContext, function, format, shown.text(), rmid, kHexWidth, hex_value(flags));
}

void trace_result(const char* function, int result) {
  if (tracing()) trace_exit(&g_traceContext, function, kExitFormat, result);
}

// The body of the six wrappers that take one XID.
using XidEntry = int (*xa_switch_t::*)(XID* xid, int rmid, long flags);

int call_xid_entry(XidEntry entry, XID* xid, int rmid, long flags) {
  xa_switch_t* client = client_switch();
  return client == nullptr ? XAER_RMERR : (client->*entry)(xid, rmid, flags);
}

[[gnu::noinline, gnu::cold]] int forward_xid_traced(const char* function, XidEntry entry, XID* xid,
                                                    int rmid, long flags) {
  trace_entry(&g_traceContext, function, kXidEntryFormat, rmid, kHexWidth, hex_value(flags));
  trace_xid(&g_traceContext, function, xid);
  const int result = call_xid_entry(entry, xid, rmid, flags);
  trace_result(function, result);
  if (diag_log_level() != kDiagOff) log_call(function, xid, rmid, flags, result, false);
  return result;
}

// The untraced path is kept free of the traced one, so that it is the call's
// count (two atomic updates) and two flag tests around the client call.
inline int forward_xid(const char* function, XidEntry entry, XID* xid, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  if (tracing()) return forward_xid_traced(function, entry, xid, rmid, flags);
  const int result = call_xid_entry(entry, xid, rmid, flags);
  trace_result(function, result);  // tracing may have started meanwhile
  if (diag_log_level() != kDiagOff) log_call(function, xid, rmid, flags, result, false);
  return result;
}

// The two open buffers, zero-filled, released on every path.
class OpenBuffers {
 public:
  OpenBuffers()
      : rewritten_(static_cast<char*>(allocateZeroed(kOpenBufferSize))),
        filtered_(static_cast<char*>(allocateZeroed(kOpenBufferSize))) {}
  ~OpenBuffers() {
    release(rewritten_);
    release(filtered_);
  }
  OpenBuffers(const OpenBuffers&) = delete;
  OpenBuffers& operator=(const OpenBuffers&) = delete;

  bool valid() const { return rewritten_ != nullptr && filtered_ != nullptr; }
  char* rewritten() { return rewritten_; }
  char* filtered() { return filtered_; }

 private:
  char* rewritten_;
  char* filtered_;
};

uint32_t name_length(const char* name) {
  return name == nullptr ? 0 : static_cast<uint32_t>(std::strlen(name));
}

void start_tracing_if_asked() {
  const int32_t level = trace_options_level();
  if (level <= 1) return;
  // trace_start switches tracing on once a library is bound, not before:
  // until then another thread's call does not trace and so never waits for
  // this binding.
  const char* file = trace_options_file_name();
  const char* library = trace_options_dll_name();
  trace_start(&g_traceContext, level, file, name_length(file), library, name_length(library), "");
}

}  // namespace

namespace {

int open_client(char* xa_info, int rmid, long flags) {
  const char* info = xa_info == nullptr ? "" : xa_info;
  OpenBuffers buffers;
  if (!buffers.valid()) return XAER_RMERR;  // reported by allocateZeroed
  // Open strings are at most 256 bytes; one whose rewritten form does not fit
  // the buffers is refused before anything is loaded or called.
  if (rewrite_db_name(info, buffers.rewritten(), kOpenBufferSize) != kOpenStringDone) {
    return XAER_RMERR;
  }
  const uint32_t length = static_cast<uint32_t>(std::strlen(buffers.rewritten()));
  if (parse_open_options(buffers.rewritten(), length, buffers.filtered(), kOpenBufferSize) ==
      kOpenStringTooLong) {
    return XAER_RMERR;
  }
  start_tracing_if_asked();
  if (tracing()) trace_string_record(trace_entry, kOpenName, kStringEntryFormat, info, rmid, flags);
  if (load_client_xa_library() != kClientSwitchHeld) {
    if (tracing()) {
      trace_data(&g_traceContext, kOpenName, "Error loading XA switch");
      trace_exit(&g_traceContext, kOpenName, "rc = %d (XAER_RMERR)", XAER_RMERR);
    }
    return XAER_RMERR;
  }
  const int result = client_switch()->xa_open_entry(buffers.filtered(), rmid, flags);
  trace_result(kOpenName, result);
  return result;
}

}  // namespace

int or8_mq_xa_open(char* xa_info, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  const int result = open_client(xa_info, rmid, flags);
  if (diag_log_level() != kDiagOff) {
    diag_log_open(kDiagSwitch, xa_info, rmid, flags, client_library_description(), result,
                  platform::currentThreadId());
  }
  return result;
}

int or8_mq_xa_close(char* xa_info, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  char empty[1] = {'\0'};
  char* info = xa_info == nullptr ? empty : xa_info;
  char* passed = client_close_string_flag() ? const_cast<char*>(kCloseString) : info;
  if (tracing()) {
    trace_string_record(trace_entry, kCloseName, kStringEntryFormat, info, rmid, flags);
    trace_string_record(trace_data, kCloseName, kCloseDataFormat, passed, rmid, flags);
  }
  xa_switch_t* client = client_switch();
  const int result = client == nullptr ? XAER_RMERR : client->xa_close_entry(passed, rmid, flags);
  trace_result(kCloseName, result);
  if (diag_log_level() != kDiagOff) {
    diag_log_close(kDiagSwitch, rmid, flags, result, platform::currentThreadId());
  }
  return result;
}

int or8_mq_xa_start(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_start", &xa_switch_t::xa_start_entry, xid, rmid, flags);
}

int or8_mq_xa_end(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_end", &xa_switch_t::xa_end_entry, xid, rmid, flags);
}

int or8_mq_xa_rollback(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_rollback", &xa_switch_t::xa_rollback_entry, xid, rmid, flags);
}

int or8_mq_xa_prepare(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_prepare", &xa_switch_t::xa_prepare_entry, xid, rmid, flags);
}

int or8_mq_xa_commit(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_commit", &xa_switch_t::xa_commit_entry, xid, rmid, flags);
}

int or8_mq_xa_forget(XID* xid, int rmid, long flags) {
  return forward_xid("or8_mq_xa_forget", &xa_switch_t::xa_forget_entry, xid, rmid, flags);
}

int or8_mq_xa_recover(XID* xids, long count, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  constexpr char kName[] = "or8_mq_xa_recover";
  if (tracing()) {
    trace_entry(&g_traceContext, kName, "rmid: %d flags: 0x%0*x xids: 0x%0*x count: %d", rmid,
                kHexWidth, hex_value(flags), kHexWidth, address_value(xids),
                static_cast<int32_t>(count));
  }
  xa_switch_t* client = client_switch();
  const int result =
      client == nullptr ? XAER_RMERR : client->xa_recover_entry(xids, count, rmid, flags);
  trace_result(kName, result);
  if (diag_log_level() != kDiagOff) log_call(kName, nullptr, rmid, flags, result, true);
  return result;
}

int or8_mq_xa_complete(int* handle, int* retval, int rmid, long flags) {
  const ModuleCall gate;
  if (!gate.admitted()) return XAER_RMERR;
  constexpr char kName[] = "or8_mq_xa_complete";
  if (tracing()) {
    trace_entry(&g_traceContext, kName, "handle: 0x%0*x retval: 0x%0*x rmid: %d flags: 0x%0*x",
                kHexWidth, address_value(handle), kHexWidth, address_value(retval), rmid, kHexWidth,
                hex_value(flags));
  }
  xa_switch_t* client = client_switch();
  const int result =
      client == nullptr ? XAER_RMERR : client->xa_complete_entry(handle, retval, rmid, flags);
  trace_result(kName, result);
  if (diag_log_level() != kDiagOff) log_call(kName, nullptr, rmid, flags, result, false);
  return result;
}

}  // namespace zp

namespace {

constexpr zp::XaEntrySet kMqEntries = {
    zp::or8_mq_xa_open,     zp::or8_mq_xa_close,   zp::or8_mq_xa_start,  zp::or8_mq_xa_end,
    zp::or8_mq_xa_rollback, zp::or8_mq_xa_prepare, zp::or8_mq_xa_commit, zp::or8_mq_xa_recover,
    zp::or8_mq_xa_forget,   zp::or8_mq_xa_complete};

}  // namespace

extern "C" ZP_EXPORT xa_switch_t* MQStart(void) {
  return zp::fill_switch_record(kMqEntries, "MQStart");
}
