// The module's static objects and its attach and detach steps.
//
// The static objects live in raw static storage and are constructed and
// destroyed explicitly, so their order does not depend on how a toolchain
// orders static initialisers against its load hook: built in table order
// before the attach, destroyed in reverse after the detach.
#include "module/libmain.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "module/diag_log.h"
#include "module/statics.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/perthred.h"

namespace zp {

namespace {

template <typename T>
struct StaticSlot {
  alignas(T) unsigned char storage[sizeof(T)];
  bool built;

  T& get() { return *reinterpret_cast<T*>(storage); }
  template <typename... Args>
  void build(Args... args) {
    new (storage) T(args...);
    built = true;
  }
  void destroy() {
    if (!built) return;
    get().~T();
    built = false;
  }
};

// Zero at load. Construction order: as listed.
StaticSlot<KvCriticalSection> g_clientLibraryLock;
StaticSlot<KvArrayPVoid> g_workerTableArray;
StaticSlot<KvCriticalSection> g_workerTableLock;
StaticSlot<KvCriticalSection> g_threadRecordLock;
StaticSlot<KvCriticalSection> g_traceLock;
StaticSlot<KvError> g_outOfMemoryError;
StaticSlot<KvError> g_fixedError;

bool g_loaded;

// Trivially destructible, so valid to the very end of the process: a late
// caller reads them after every static object has gone.
std::atomic<uint32_t> g_callsInFlight;
std::atomic<bool> g_unloading;

constexpr size_t kAssertsPathSize = 260;

void appendAssertsLine() {
  char path[kAssertsPathSize] = {};
  const size_t length = platform::environmentGet("KV_ASSERTS_FILE", path, sizeof path);
  // A value that does not fit the buffer is treated as absent.
  if (length == 0 || length >= kAssertsPathSize) return;
  platform::LocalTime now;
  if (!platform::localTimeNow(&now)) return;
  char line[64];
  formatAssertsLine(line, now.weekDay, now.month, now.monthDay, now.hour, now.minute, now.second,
                    now.year);
  // Only a regular file is appended to; anything else counts as absent, and
  // the load never waits on it (a FIFO without a reader, for one).
  platform::fileAppendRegular(path, line, std::strlen(line));
}

}  // namespace

KvCriticalSection& clientLibraryLock() { return g_clientLibraryLock.get(); }
KvArrayPVoid& workerTableArray() { return g_workerTableArray.get(); }
KvCriticalSection& workerTableLock() { return g_workerTableLock.get(); }
KvCriticalSection& threadRecordLock() { return g_threadRecordLock.get(); }
KvCriticalSection& traceLock() { return g_traceLock.get(); }
KvError& staticOutOfMemoryError() { return g_outOfMemoryError.get(); }
KvError& staticFixedError() { return g_fixedError.get(); }

void formatAssertsLine(char* buffer, int weekDay, int month, int monthDay, int hour, int minute,
                       int second, int year) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = (weekDay >= 0 && weekDay < 7) ? kDays[weekDay] : "???";
  const char* mon = (month >= 0 && month < 12) ? kMonths[month] : "???";
  std::snprintf(buffer, 64, "--- %s %s %02d %02d:%02d:%02d %d\n", day, mon, monthDay, hour, minute,
                second, year);
}

bool moduleProcessAttach(void* instance) {
  if (platform::moduleInstance() == nullptr) platform::moduleInstanceSet(instance);
  platform::codePageSelect();
  if (!threadListAttach(platform::currentThreadId())) return false;
  appendAssertsLine();
  diag_log_start();
  return true;
}

void moduleProcessDetach() {
  diag_log_stop();
  threadListDetach();
}

// A caller counts itself in and then looks at the flag; the unload sets the
// flag and then looks at the count. Both sequentially consistent: either the
// caller sees the flag and leaves, or the unload sees the caller and keeps
// everything.
ModuleCall::ModuleCall() {
  g_callsInFlight.fetch_add(1, std::memory_order_seq_cst);
  admitted_ = !g_unloading.load(std::memory_order_seq_cst);
}

ModuleCall::~ModuleCall() { g_callsInFlight.fetch_sub(1, std::memory_order_release); }

bool moduleLoad(void* instance) {
  g_unloading.store(false, std::memory_order_seq_cst);
  if (g_loaded) return true;
  g_clientLibraryLock.build();
  g_workerTableArray.build();
  g_workerTableLock.build();
  g_threadRecordLock.build();
  g_traceLock.build();
  g_outOfMemoryError.build(kMessageOutOfMemory, uint16_t{0},
                           uint32_t{KvError::kStatic | KvError::kOutOfMemory});
  g_fixedError.build(uint16_t{0}, uint16_t{0}, uint32_t{KvError::kStatic | KvError::kFixed});
  g_loaded = true;
  return moduleProcessAttach(instance);
}

void moduleUnload(UnloadKind kind) {
  if (!g_loaded) return;
  g_unloading.store(true, std::memory_order_seq_cst);
  // No caller is admitted any more; those in flight, and the workers, may
  // still reach everything: then it stays (the process is ending).
  if (kind == UnloadKind::kProcessExit || g_callsInFlight.load(std::memory_order_seq_cst) != 0 ||
      workerTableArray().count() != 0) {
    return;
  }
  moduleProcessDetach();
  g_fixedError.destroy();
  g_outOfMemoryError.destroy();
  g_traceLock.destroy();
  g_threadRecordLock.destroy();
  g_workerTableLock.destroy();
  g_workerTableArray.destroy();
  g_clientLibraryLock.destroy();
  g_loaded = false;
}

}  // namespace zp
