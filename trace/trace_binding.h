// Binding of the external trace library: the process-wide TraceContext, the
// TraceLibrary record of a bound library, and the operations that bind,
// rebind and release it. The record writers (trace/trace_records.h) reach the
// bound library through a TraceUse, which keeps it loaded for their call.
#ifndef ZP_TRACE_TRACE_BINDING_H
#define ZP_TRACE_TRACE_BINDING_H

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "platform/platform.h"

namespace zp {

// Results of the binding operations.
constexpr int32_t kTraceOk = 0;
constexpr int32_t kTraceFailed = 1;
// The trace level that turns tracing on.
constexpr int32_t kTraceLevelOn = 2;
// Names are held in path buffers of this many bytes: at most 260 characters
// for a log file name and at most 259 for a library name, plus the terminator.
constexpr uint32_t kTraceNameBufferSize = 261;
constexpr uint32_t kTraceFileNameMax = 260;
constexpr uint32_t kTraceLibraryNameMax = 259;
// A library that reports an interface version below this is refused.
constexpr int32_t kTraceVersionFloor = 1000;
// Size of the scratch buffer handed to TraceOpenLogFile.
constexpr int32_t kTraceScratchSize = 1000;

// The trace library's exports.
using TraceOpenLogFileFn = int16_t (*)(const char* file, char* scratch, int32_t size);
// TraceOpenLogFile's status when the log is open.
constexpr int16_t kTraceLogOpened = 0;
using TraceCloseLogFileFn = void (*)();
using TraceVersionFn = int32_t (*)();
using TraceRecordFn = void (*)(const char* function, const char* format, va_list args);
using TraceInitFn = void (*)(int32_t zero, const char* init);
using TraceSetLevelFn = void (*)(uint32_t level);

// A bound trace library: its entry points and its handle. Made zero-filled by
// trace_bind and owned by TraceContext.library; optional entries are null
// when the library lacks them.
struct TraceLibrary {
  TraceOpenLogFileFn openLogFile;
  TraceCloseLogFileFn closeLogFile;
  TraceVersionFn version;
  platform::Library* module;
  TraceRecordFn traceEntry;
  TraceRecordFn traceExit;
  TraceRecordFn traceData;
  TraceInitFn traceInit;
  TraceSetLevelFn setTraceLevel;
};

// Whether records are written, and the bound library. One process-wide
// instance (g_traceContext), zero at load. enabled is read without a lock by
// every wrapper. library is changed only under the trace lock; writers read it
// through a TraceUse, and users/phase let the releasing thread wait until no
// writer can still be inside the library it is about to unload. rebinding is
// nonzero while a start or rebind holds the trace lock to replace the binding
// (changed only under that lock): a writer that finds no library then waits
// for the new one instead of dropping its record.
struct TraceContext {
  std::atomic<uint16_t> enabled;
  std::atomic<TraceLibrary*> library;
  std::atomic<uint32_t> users[2];
  std::atomic<uint32_t> phase;
  std::atomic<uint32_t> rebinding;
};

extern TraceContext g_traceContext;

// Holds the library bound at construction loaded until destruction. The
// usual case takes no lock: the use registers itself, and a releasing thread
// waits for every use registered before it detached the library. A use that
// finds no library while a rebind is under way takes the trace lock instead,
// which waits for the rebind to end, and holds it until destruction so that
// the library it then finds cannot be released meanwhile.
class TraceUse {
 public:
  explicit TraceUse(TraceContext* context);
  ~TraceUse();
  TraceUse(const TraceUse&) = delete;
  TraceUse& operator=(const TraceUse&) = delete;

  // The library bound when the use began, or null.
  TraceLibrary* library() const { return library_; }

 private:
  void registerUse();
  void unregisterUse();

  TraceContext* context_;
  uint32_t slot_ = 0;
  bool locked_ = false;
  TraceLibrary* library_ = nullptr;
};

// Starts tracing for an xa_open whose options carry level. With a level
// other than 2, sets enabled to 0. Otherwise rebinds on the validated names,
// falls back to binding on the names as they came, sets enabled to 0 when no
// library ends up bound, and initialises a bound library that has mvTraceInit
// (level 0 first, when it has mvSetTraceLevel), then sets enabled to 1. Lengths are string lengths,
// 0 for an absent name. Runs on any thread; holds the trace lock from the release of the old
// binding to the initialisation of the new one, so that writers arriving meanwhile wait and then
// write to the new binding.
void trace_start(TraceContext* context, int32_t level, const char* fileName,
                 uint32_t fileNameLength, const char* libraryName, uint32_t libraryNameLength,
                 const char* init);

// With level 2 and a file name, releases the current binding and binds anew
// on copies of the names cut at their lengths, and sets enabled to 1 when that
// bind succeeds. A name that does not fit its path buffer (a file name of 0 or
// more than 260 characters, a library name of 0 or more than 259) refuses the
// rebind and keeps the current binding. Returns 1 without a context, else 0.
// Holds the trace lock throughout (writers arriving meanwhile wait for it).
int32_t trace_rebind(TraceContext* context, int32_t level, const char* fileName,
                     uint32_t fileNameLength, const char* libraryName, uint32_t libraryNameLength);

// Loads libraryName unchanged, checks its exports and version and has it open
// fileName (null allowed) as its log; a fileName that names something other
// than a regular file is refused before the library is asked to open it. Returns 0 when the library
// is now bound, 1 when one was bound already, the name is absent or longer than 259 characters, or
// any step failed (the library is then unloaded again and the context is unchanged). Holds the
// trace lock throughout.
int32_t trace_bind(TraceContext* context, const char* fileName, const char* libraryName);

// Releases the bound library, if any: detaches it from the context, waits for
// writers still inside it, closes its log file and unloads it. Holds the trace
// lock throughout.
void trace_unbind(TraceContext* context);

}  // namespace zp

#endif  // ZP_TRACE_TRACE_BINDING_H
