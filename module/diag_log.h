// The module's diagnostic log: a plain text file, off by default, that says
// inside the host process what the module did (load and unload, every open
// and close, every failed call; every call at the verbose level). It needs
// neither a trace library nor an open-string option, and never shows a
// password.
#ifndef ZP_MODULE_DIAG_LOG_H
#define ZP_MODULE_DIAG_LOG_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "zpor8dtc23/xa.h"

// The line writers take C99 printf formats on both targets (gnu_printf, which
// mingw needs to check them as such; clang knows only printf).
#if defined(__clang__)
#define ZP_DIAG_PRINTF(string, first) __attribute__((format(printf, string, first)))
#else
#define ZP_DIAG_PRINTF(string, first) __attribute__((format(gnu_printf, string, first)))
#endif

namespace zp {

enum DiagLevel : int32_t {
  kDiagOff = 0,
  kDiagNormal = 1,   // load, unload, open, close, failed calls
  kDiagVerbose = 2,  // and every other call
};

// Where the settings come from. The environment wins when ZPXA_LOG is set.
constexpr char kDiagLogVariable[] = "ZPXA_LOG";              // the file
constexpr char kDiagLevelVariable[] = "ZPXA_LOG_LEVEL";      // "verbose"
constexpr char kDiagLimitVariable[] = "ZPXA_LOG_LIMIT";      // bytes
constexpr char kDiagRegistryKey[] = "SOFTWARE\\zpor8dtc23";  // under HKLM
constexpr char kDiagRegistryFile[] = "LogFile";
constexpr char kDiagRegistryLevel[] = "LogLevel";
constexpr char kDiagRegistryLimit[] = "LogLimit";
// The default bound of the file, in bytes; near it one "log full" line is
// written and then nothing more by any process. A limit below 2,816 bytes
// counts as 2,816.
constexpr uint64_t kDiagDefaultLimit = 16u << 20;

// The longest file name the log takes, in bytes with the terminator.
constexpr size_t kDiagPathSize = 1024;

// The settings as diag_log_start reads them, with a note for each one that
// was given but cannot be used (its name, what it was, what applies instead).
struct DiagSettings {
  char path[kDiagPathSize];  // empty: the log stays off
  bool fromRegistry;
  int32_t level;
  uint64_t limit;
  int noteCount;
  char notes[4][256];
};

// Reads the settings: the environment when ZPXA_LOG is set, else (Windows)
// the registry values, which may be strings (REG_SZ, or REG_EXPAND_SZ with
// %VARIABLE% references) or, for the numbers, REG_DWORD or REG_QWORD.
// Anything else is ignored and noted. Allocates and writes nothing.
void diag_log_read_settings(DiagSettings* settings);

// The level in force: kDiagOff from load until diag_log_start finds a file,
// and again after diag_log_stop. While the file is full, lines are dropped;
// the log looks again at most once a second and starts afresh once the file
// has been deleted, moved or emptied.
extern std::atomic<int32_t> g_diagLogLevel;

// One relaxed load: what every switch call pays while the log is off.
inline int32_t diag_log_level() { return g_diagLogLevel.load(std::memory_order_relaxed); }

// Reads the settings (diag_log_read_settings) and, when they name a file,
// switches the log on and writes the load line and a line for each setting
// that was ignored. Runs once,
// in the process attach. Never fails the load: a file that cannot be written
// leaves the module working and the log silent.
void diag_log_start();
// Writes the unload line and switches the log off. Runs in the process
// detach, when no switch call runs any more.
void diag_log_stop();

// Writes one line: a time, process and thread prefix, then the formatted
// text (cut at about 1,000 bytes; line breaks and other control bytes shown
// as \xNN). Lines of several threads never mix. Does nothing while off.
void diag_log_line(const char* format, ...) ZP_DIAG_PRINTF(1, 2);

// "XA_OK", "XAER_RMERR", ..., or null for a value with no XA name.
const char* xa_result_name(int result);
// "XA_OK" or, for a value without a name, its number, into out (terminated).
void format_xa_result(int result, char* out, size_t size);
// "fmt 0x5a50 gtrid 5 bqual 32 data 32706331..." (at most 16 data bytes in
// hex), or "null", into out (terminated).
void format_xid_summary(const XID* xid, char* out, size_t size);

// The lines of the two switches. switchName is "dtc" or "mq"; thread is the
// thread the client's call ran on (the rmid's worker, or the caller).
// info is the open string as the caller gave it: it is written masked.
// client describes the client library in use (its path and why it was chosen).
void diag_log_open(const char* switchName, const char* info, int rmid, long flags,
                   const char* client, int result, uint32_t thread);
void diag_log_close(const char* switchName, int rmid, long flags, int result, uint32_t thread);
// Any other call: written when it failed (a negative result, a rollback or
// heuristic outcome; never a recover count), and for every call at the
// verbose level. xid may be null (recover, complete).
void diag_log_call(const char* switchName, const char* operation, const XID* xid, int rmid,
                   long flags, int result, bool resultIsCount);

}  // namespace zp

#endif  // ZP_MODULE_DIAG_LOG_H
