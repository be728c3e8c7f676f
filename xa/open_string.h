// The open string (xa_info) on its way to the client: DB-name rewriting on the
// MQStart path, and option filtering on both paths, which also takes the
// module's own trace options out of the string into the process-wide
// TraceOptions.
#ifndef ZP_XA_OPEN_STRING_H
#define ZP_XA_OPEN_STRING_H

#include <cstdint>

namespace zp {

// The rewriting buffers of the MQStart path.
constexpr uint32_t kOpenBufferSize = 1024;
// What parse_open_options and rewrite_db_name return when the string was
// filtered or rewritten.
constexpr int32_t kOpenStringDone = 0;
// A string whose filtered or rewritten form does not fit the caller's buffer.
// Distinct from every XA code; callers turn it into XAER_RMERR.
constexpr int32_t kOpenStringTooLong = -1000;

// Filters source into output (capacity bytes): the "ORACLE_XA" prefix as
// written, then the options the client understands ("+ACC", "+DB", "+SesTM",
// "+SqlNet", "+Threads") in source order; the trace options ("+Trace",
// "+TraceDll32" - "+TraceDll64" in a 64-bit process - and "+TraceFile") are
// taken into TraceOptions, everything else is dropped. sourceLength is not
// consulted: the source is read up to its terminator. Returns kOpenStringDone;
// XAER_RMERR
// when the prefix is missing (output empty, TraceOptions untouched); or
// kOpenStringTooLong when the filtered string does not fit (output empty).
// Safe on any thread.
int32_t parse_open_options(const char* source, uint32_t sourceLength, char* output,
                           uint32_t capacity);

// Extends the first "+DB=" value of xaInfo (letter case ignored) with the
// decimal process id and thread id, or appends "+DB=" and the two ids when
// there is none. Returns kOpenStringDone, or kOpenStringTooLong (output empty) when the
// result does not fit capacity bytes.
int32_t rewrite_db_name(const char* xaInfo, char* output, uint32_t capacity);

// The process-wide TraceOptions, as the last parsed open strings left them:
// level 0, 1 or 2, and the trace library and log file names (null until an
// open string gave one). A returned name stays valid, and unchanged, for the
// life of the process: a new value is stored as a new string and the old one
// is kept (identical values share one string, so the storage is bounded by
// the number of distinct names).
int32_t trace_options_level();
const char* trace_options_dll_name();
const char* trace_options_file_name();

// The trace library keyword of this process's word size, without its '+'.
extern const char kTraceDllKeyword[];

}  // namespace zp

#endif  // ZP_XA_OPEN_STRING_H
