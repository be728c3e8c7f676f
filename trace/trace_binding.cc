// Binding and releasing of the external trace library, and the TraceUse that
// keeps a bound library loaded while a writer calls into it.
//
// Writers count themselves in and out instead of taking a lock: a record costs
// two atomic updates on the writer's side and nothing on a system lock, and a
// rebind that has detached the library waits only for the writers already
// inside it. Writers that arrive while a rebind holds the trace lock wait on
// that lock, so the rebind is never starved and their records reach the new
// binding.
#include "trace/trace_binding.h"

#include <cstring>

#include "module/statics.h"
#include "platform/alloc.h"
#include "support/bytes.h"
#include "support/kvcritse.h"
#include "support/perthred.h"

namespace zp {

TraceContext g_traceContext;

namespace {

// Length of text when it is shorter than limit, else limit: never reads more
// than limit + 1 bytes.
uint32_t bounded_length(const char* text, uint32_t limit) {
  uint32_t length = 0;
  while (length <= limit && text[length] != '\0') ++length;
  return length;
}

// Waits until every TraceUse registered under the phase that ends now has
// finished. Called after the library pointer was cleared: a use that
// registers afterwards reads the new phase and so can only see the cleared
// pointer (or a later binding).
void wait_for_writers(TraceContext* context) REQUIRES(traceLock()) {
  const uint32_t ending = context->phase.load() & 1u;
  context->phase.store(ending ^ 1u);
  while (context->users[ending].load(std::memory_order_acquire) != 0) {
    // A writer is inside the library for one record; this is short.
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
  }
}

// Marks a replacement of the binding for its scope and holds the trace lock
// meanwhile. Nests: trace_start's window encloses trace_rebind's.
class RebindWindow {
 public:
  explicit RebindWindow(TraceContext* context) : context_(context), guard_(traceLock()) {
    context_->rebinding.fetch_add(1);
  }
  ~RebindWindow() { context_->rebinding.fetch_sub(1); }
  RebindWindow(const RebindWindow&) = delete;
  RebindWindow& operator=(const RebindWindow&) = delete;

 private:
  TraceContext* context_;
  KvLockGuard guard_;
};

template <typename Entry>
Entry library_entry(platform::Library* module, const char* name) {
  return reinterpret_cast<Entry>(platform::librarySymbol(module, name));
}

// Loads the library and fills record; false at the first failing step, with
// whatever was loaded still in record->module.
bool load_and_open(TraceLibrary* record, const char* fileName, const char* libraryName) {
  record->module = platform::libraryLoad(libraryName);
  if (record->module == nullptr) return false;
  record->openLogFile = library_entry<TraceOpenLogFileFn>(record->module, "TraceOpenLogFile");
  record->closeLogFile = library_entry<TraceCloseLogFileFn>(record->module, "TraceCloseLogFile");
  record->version = library_entry<TraceVersionFn>(record->module, "TraceVersion");
  if (record->openLogFile == nullptr || record->closeLogFile == nullptr ||
      record->version == nullptr) {
    return false;
  }
  if (record->version() < kTraceVersionFloor) return false;
  // A name that is there but is not a regular file (a FIFO, a device, a
  // folder) is refused before the library opens it: its open could wait
  // without end while this thread holds the trace lock.
  if (fileName != nullptr && platform::fileIsNotRegular(fileName)) return false;
  char scratch[kTraceScratchSize];
  // The status is 16 bits wide: only those decide, whatever else the
  // library leaves in the result register.
  if (record->openLogFile(fileName, scratch, kTraceScratchSize) != kTraceLogOpened) return false;
  record->traceEntry = library_entry<TraceRecordFn>(record->module, "mvTraceEntry");
  record->traceExit = library_entry<TraceRecordFn>(record->module, "mvTraceExit");
  record->traceData = library_entry<TraceRecordFn>(record->module, "mvTraceData");
  record->traceInit = library_entry<TraceInitFn>(record->module, "mvTraceInit");
  record->setTraceLevel = library_entry<TraceSetLevelFn>(record->module, "mvSetTraceLevel");
  return true;
}

// Rebinding on copies of the names, each cut at its given length.
int32_t validated_rebind(TraceContext* context, const char* fileName, uint32_t fileNameLength,
                         const char* libraryName, uint32_t libraryNameLength) {
  if (fileName == nullptr || fileNameLength < 1 || fileNameLength > kTraceFileNameMax ||
      libraryName == nullptr || libraryNameLength < 1 || libraryNameLength > kTraceLibraryNameMax) {
    return kTraceFailed;
  }
  char file[kTraceNameBufferSize];
  char library[kTraceNameBufferSize];
  copyBounded(file, kTraceNameBufferSize, fileName);
  file[fileNameLength] = '\0';
  copyBounded(library, kTraceNameBufferSize, libraryName);
  library[libraryNameLength] = '\0';
  if (context->library.load() != nullptr) trace_unbind(context);
  return trace_bind(context, file, library);
}

}  // namespace

TraceUse::TraceUse(TraceContext* context) : context_(context) {
  registerUse();
  library_ = context->library.load();
  if (library_ != nullptr) return;
  if (context->rebinding.load() == 0) {
    // No rebind under way now; if one ended since the first look, its library
    // was stored before it ended, so this look finds it.
    library_ = context->library.load();
    return;
  }
  // A rebind has released the old library and not yet bound the new one.
  // Leave the count first, so that the rebind does not wait for this use,
  // then wait for the trace lock: under it no binding is replaced.
  unregisterUse();
  traceLock().enter();
  locked_ = true;
  library_ = context->library.load();
}

TraceUse::~TraceUse() {
  if (locked_) {
    traceLock().leave();
  } else {
    unregisterUse();
  }
}

void TraceUse::registerUse() {
  // Register under the current phase; if a release flipped the phase
  // meanwhile, register again under the new one, so that the releasing
  // thread either waits for this use or this use sees the cleared pointer.
  for (;;) {
    const uint32_t slot = context_->phase.load() & 1u;
    context_->users[slot].fetch_add(1);
    if ((context_->phase.load() & 1u) == slot) {
      slot_ = slot;
      return;
    }
    context_->users[slot].fetch_sub(1, std::memory_order_release);
  }
}

void TraceUse::unregisterUse() { context_->users[slot_].fetch_sub(1, std::memory_order_release); }

void trace_start(TraceContext* context, int32_t level, const char* fileName,
                 uint32_t fileNameLength, const char* libraryName, uint32_t libraryNameLength,
                 const char* init) {
  if (context == nullptr) return;
  if (level != kTraceLevelOn) {
    context->enabled.store(0, std::memory_order_relaxed);
    return;
  }
  RebindWindow window(context);
  trace_rebind(context, level, fileName, fileNameLength, libraryName, libraryNameLength);
  if (context->library.load() == nullptr) {
    trace_bind(context, fileName, libraryName);
    if (context->library.load() == nullptr) {
      context->enabled.store(0, std::memory_order_relaxed);
      return;
    }
  }
  // The trace lock is held, so the library stays bound while it is set up.
  TraceLibrary* library = context->library.load();
  if (library->traceInit != nullptr) {
    // The library's own level is always set to 0 here; the open string's
    // level only decides whether tracing runs at all.
    if (library->setTraceLevel != nullptr) library->setTraceLevel(0);
    library->traceInit(0, init);
  }
  // On only once a library is bound: calls of other threads read the flag
  // without the lock, and so never wait for a binding under way unless
  // tracing was on already.
  context->enabled.store(1, std::memory_order_relaxed);
}

int32_t trace_rebind(TraceContext* context, int32_t level, const char* fileName,
                     uint32_t fileNameLength, const char* libraryName, uint32_t libraryNameLength) {
  if (context == nullptr) return kTraceFailed;
  if (level != kTraceLevelOn || fileName == nullptr) return kTraceOk;
  RebindWindow window(context);
  if (validated_rebind(context, fileName, fileNameLength, libraryName, libraryNameLength) ==
      kTraceOk) {
    context->enabled.store(1, std::memory_order_relaxed);
  }
  return kTraceOk;
}

int32_t trace_bind(TraceContext* context, const char* fileName, const char* libraryName) {
  if (context == nullptr) return kTraceFailed;
  KvLockGuard guard(traceLock());
  if (context->library.load() != nullptr || libraryName == nullptr) return kTraceFailed;
  // A name that would not fit a path buffer is refused before anything is
  // made or loaded.
  if (bounded_length(libraryName, kTraceLibraryNameMax) > kTraceLibraryNameMax) {
    return kTraceFailed;
  }
  auto* record = static_cast<TraceLibrary*>(allocateZeroed(sizeof(TraceLibrary)));
  if (record == nullptr) return kTraceFailed;  // reported by allocateZeroed
  if (!load_and_open(record, fileName, libraryName)) {
    // The log was not opened, so it is not closed either.
    platform::libraryUnload(record->module);
    release(record);
    return kTraceFailed;
  }
  context->library.store(record);
  return kTraceOk;
}

void trace_unbind(TraceContext* context) {
  if (context == nullptr || context->library.load() == nullptr) return;
  KvLockGuard guard(traceLock());
  // Detach first, so that no new writer reaches the library, then let the
  // writers already inside it finish before it is closed and unloaded.
  TraceLibrary* record = context->library.exchange(nullptr);
  if (record == nullptr) return;
  wait_for_writers(context);
  record->closeLogFile();
  platform::libraryUnload(record->module);
  release(record);
}

}  // namespace zp
