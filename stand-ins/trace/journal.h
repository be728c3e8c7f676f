/* The journal of the trace-library stand-ins: a small library that stays
 * loaded for the whole test program (the program links it) while the module
 * loads and unloads the stand-ins. It keeps every call the stand-ins receive
 * as a line of text, their settings, and a count of calls made into a
 * stand-in that is not open (after its log was closed or while it is being
 * unloaded). */
#ifndef ZP_STAND_INS_TRACE_JOURNAL_H
#define ZP_STAND_INS_TRACE_JOURNAL_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(ZP_TRACE_JOURNAL_BUILDING)
#define ZP_JOURNAL_API __declspec(dllexport)
#else
#define ZP_JOURNAL_API __declspec(dllimport)
#endif
#else
#define ZP_JOURNAL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* For tests. */

/* Empties the journal and restores the settings: version 1000, open result 0,
 * record lines kept. */
ZP_JOURNAL_API void zp_journal_reset(void);
/* What TraceVersion and TraceOpenLogFile of every stand-in return from now on
 * (the open result as a full 32-bit value). */
ZP_JOURNAL_API void zp_journal_configure(int32_t version, int32_t openResult);
/* With keep 0, record calls are counted but not kept as lines. */
ZP_JOURNAL_API void zp_journal_keep_records(int32_t keep);
/* Number of lines, and a copy of line index into buffer (terminated, cut to
 * size); returns 0 when index is out of range. */
ZP_JOURNAL_API int32_t zp_journal_count(void);
ZP_JOURNAL_API int32_t zp_journal_line(int32_t index, char* buffer, int32_t size);
/* Calls made into a stand-in that was not open, and record calls in all. */
ZP_JOURNAL_API int32_t zp_journal_violations(void);
ZP_JOURNAL_API int32_t zp_journal_record_calls(void);
/* From now on, record calls made on the calling thread are also counted under
 * tag (0 to ZP_JOURNAL_TAGS - 1; any other value stops the counting), so that
 * a test can compare what each of its threads wrote with what arrived. */
#define ZP_JOURNAL_TAGS 64
ZP_JOURNAL_API void zp_journal_tag_thread(int32_t tag);
/* Record calls counted under tag since the last reset (0 for a bad tag). */
ZP_JOURNAL_API int32_t zp_journal_tag_records(int32_t tag);

/* For the stand-ins. */

ZP_JOURNAL_API void zp_journal_append(const char* line);
ZP_JOURNAL_API int32_t zp_journal_version(void);
ZP_JOURNAL_API int32_t zp_journal_open_result(void);
/* A stand-in opened its log (live) or closed it / is being unloaded. Closing
 * while a call is inside a stand-in counts as a violation. */
ZP_JOURNAL_API void zp_journal_set_open(int32_t open);
/* Around every call a stand-in receives after loading; a call that begins
 * while no stand-in is open counts as a violation. record is nonzero for the
 * three record writers. Returns whether lines of this kind are kept. */
ZP_JOURNAL_API int32_t zp_journal_call_begin(int32_t record);
ZP_JOURNAL_API void zp_journal_call_end(void);

#ifdef __cplusplus
}
#endif

#endif /* ZP_STAND_INS_TRACE_JOURNAL_H */
