// The diagnostic log: settings read once at load, whole lines appended under
// one lock, a byte bound shared by every process that writes the file.
// Nothing here allocates: lines are built on the caller's stack.
#include "module/diag_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "support/open_mask.h"

#include "zp_version.h"

namespace zp {

std::atomic<int32_t> g_diagLogLevel;

namespace {

constexpr size_t kPathSize = 1024;
constexpr size_t kLineSize = 1280;
constexpr size_t kTextSize = 1024;
constexpr size_t kSettingSize = 64;

// Room kept at the end of the file for the line that may start just below
// the threshold and the "log full" line after it.
constexpr uint64_t kEndRoom = kLineSize + 128;
constexpr uint64_t kSmallestLimit = 2 * kEndRoom;

// Process-wide, zero at load. Written by diag_log_start before the level is
// set and by diag_log_stop after it is cleared; `full` only under `lock`.
struct DiagLogState {
  char path[kPathSize];
  uint64_t limit;
  bool full GUARDED_BY(lock);
  bool lockReady;
  platform::LockStorage lock;
};
DiagLogState g_diagLog;

// A line is written while the file is below this size, so that the file
// never grows past the limit. Every process that writes the file asks it for
// its size, so the bound holds for all of them together.
uint64_t write_threshold() { return g_diagLog.limit - kEndRoom; }

const char* level_name(int32_t level) { return level == kDiagVerbose ? "verbose" : "normal"; }

int32_t parse_level(const char* text) {
  if (text[0] == '\0') return kDiagNormal;
  // Accepted in any letter case; anything else is the normal level.
  const char kVerbose[] = "verbose";
  size_t i = 0;
  for (; kVerbose[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kVerbose[i]) break;
  }
  if (kVerbose[i] == '\0' && text[i] == '\0') return kDiagVerbose;
  return (text[0] == '2' && text[1] == '\0') ? kDiagVerbose : kDiagNormal;
}

// A whole decimal number of bytes, at least 1; otherwise the default.
uint64_t parse_limit(const char* text) {
  if (text[0] < '0' || text[0] > '9') return kDiagDefaultLimit;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value == 0) return kDiagDefaultLimit;
  return value < kSmallestLimit ? kSmallestLimit : value;
}

// Reads one setting from the environment, else from the registry value.
void read_setting(const char* variable, const char* registryName, bool fromRegistry, char* out,
                  size_t size) {
  size_t length = 0;
  if (!fromRegistry) {
    length = platform::environmentGet(variable, out, size);
  } else {
    length = platform::registryReadMachineString(kDiagRegistryKey, registryName, out, size);
  }
  if (length >= size) out[0] = '\0';
}

// Copies text into out from used onwards, with every control byte shown as
// \xNN, so that a value can never break a line. Returns
// the new used count; out stays terminated.
size_t append_printable(char* out, size_t used, size_t size, const char* text) {
  for (; *text != '\0' && used + 5 < size; ++text) {
    const auto byte = static_cast<unsigned char>(*text);
    if (byte < 0x20 || byte == 0x7f) {
      used += static_cast<size_t>(std::snprintf(out + used, size - used, "\\x%02x", byte));
    } else {
      out[used++] = static_cast<char>(byte);
    }
  }
  if (used < size) out[used] = '\0';
  return used;
}

// Appends line (length bytes, ending in a line feed) while the file is below
// its threshold; past it, one "log full" line, and the log goes off.
void append_line(const char* line, size_t length, const char* prefix) {
  platform::lockEnter(&g_diagLog.lock);
  if (!g_diagLog.full) {
    uint64_t size = 0;
    platform::fileSize(g_diagLog.path, &size);
    if (size < write_threshold()) {
      platform::fileAppendRegular(g_diagLog.path, line, length);
    } else {
      g_diagLog.full = true;
      char last[128];
      std::snprintf(last, sizeof last, "%slog full: %llu bytes reached, nothing more is written\n",
                    prefix, static_cast<unsigned long long>(g_diagLog.limit));
      platform::fileAppendRegular(g_diagLog.path, last, std::strlen(last));
      g_diagLogLevel.store(kDiagOff, std::memory_order_relaxed);
    }
  }
  platform::lockLeave(&g_diagLog.lock);
}

void write_vline(const char* format, va_list args) {
  char text[kTextSize];
  std::vsnprintf(text, sizeof text, format, args);
  char prefix[96];
  platform::LocalTime now = {};
  platform::localTimeNow(&now);
  std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d pid %lu tid %lu ", now.year,
                now.month + 1, now.monthDay, now.hour, now.minute, now.second,
                static_cast<unsigned long>(platform::currentProcessId()),
                static_cast<unsigned long>(platform::currentThreadId()));
  char line[kLineSize];
  size_t used = std::strlen(prefix);
  std::memcpy(line, prefix, used + 1);
  used = append_printable(line, used, sizeof line - 1, text);
  line[used++] = '\n';
  line[used] = '\0';
  append_line(line, used, prefix);
}

void write_line(const char* format, ...) ZP_DIAG_PRINTF(1, 2);
void write_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_vline(format, args);
  va_end(args);
}

bool call_failed(int result, bool resultIsCount) {
  if (result < 0) return true;
  if (resultIsCount) return false;
  return (result >= XA_RBBASE && result <= XA_RBEND) ||
         (result >= XA_HEURMIX && result <= XA_HEURHAZ);
}

}  // namespace

void diag_log_start() {
  if (diag_log_level() != kDiagOff) return;
  char setting[kSettingSize];
  bool fromRegistry = false;
  size_t length = platform::environmentGet(kDiagLogVariable, g_diagLog.path, kPathSize);
  if (length == 0) {
    fromRegistry = true;
    length = platform::registryReadMachineString(kDiagRegistryKey, kDiagRegistryFile,
                                                 g_diagLog.path, kPathSize);
  }
  if (length == 0 || length >= kPathSize) {
    g_diagLog.path[0] = '\0';
    return;
  }
  read_setting(kDiagLevelVariable, kDiagRegistryLevel, fromRegistry, setting, sizeof setting);
  const int32_t level = parse_level(setting);
  read_setting(kDiagLimitVariable, kDiagRegistryLimit, fromRegistry, setting, sizeof setting);
  g_diagLog.limit = parse_limit(setting);
  if (!g_diagLog.lockReady) {
    platform::lockInit(&g_diagLog.lock);
    g_diagLog.lockReady = true;
  }
  platform::lockEnter(&g_diagLog.lock);
  g_diagLog.full = false;
  platform::lockLeave(&g_diagLog.lock);
  // A full file stays as it is: its "log full" line is there already.
  uint64_t size = 0;
  if (platform::fileSize(g_diagLog.path, &size) && size >= write_threshold()) return;
  g_diagLogLevel.store(level, std::memory_order_relaxed);

  char module[kPathSize];
  char program[kPathSize];
  if (platform::moduleFilePath(module, sizeof module) == 0) std::strcpy(module, "(unknown)");
  if (platform::processFilePath(program, sizeof program) == 0) std::strcpy(program, "(unknown)");
  write_line("load module %s version %s %u-bit process %s level %s limit %llu settings from %s",
             module, ZP_VERSION_STRING, static_cast<unsigned>(sizeof(void*) * 8), program,
             level_name(level), static_cast<unsigned long long>(g_diagLog.limit),
             fromRegistry ? "the registry (HKLM\\SOFTWARE\\zpor8dtc23)" : "the environment");
}

void diag_log_stop() {
  if (diag_log_level() != kDiagOff) {
    char module[kPathSize];
    if (platform::moduleFilePath(module, sizeof module) == 0) std::strcpy(module, "(unknown)");
    write_line("unload module %s version %s", module, ZP_VERSION_STRING);
  }
  g_diagLogLevel.store(kDiagOff, std::memory_order_relaxed);
  if (g_diagLog.lockReady) {
    platform::lockDestroy(&g_diagLog.lock);
    g_diagLog.lockReady = false;
  }
}

void diag_log_line(const char* format, ...) {
  if (diag_log_level() == kDiagOff) return;
  va_list args;
  va_start(args, format);
  write_vline(format, args);
  va_end(args);
}

const char* xa_result_name(int result) {
  switch (result) {
    case XA_RBROLLBACK:
      return "XA_RBROLLBACK";
    case XA_RBCOMMFAIL:
      return "XA_RBCOMMFAIL";
    case XA_RBDEADLOCK:
      return "XA_RBDEADLOCK";
    case XA_RBINTEGRITY:
      return "XA_RBINTEGRITY";
    case XA_RBOTHER:
      return "XA_RBOTHER";
    case XA_RBPROTO:
      return "XA_RBPROTO";
    case XA_RBTIMEOUT:
      return "XA_RBTIMEOUT";
    case XA_RBTRANSIENT:
      return "XA_RBTRANSIENT";
    case XA_NOMIGRATE:
      return "XA_NOMIGRATE";
    case XA_HEURHAZ:
      return "XA_HEURHAZ";
    case XA_HEURCOM:
      return "XA_HEURCOM";
    case XA_HEURRB:
      return "XA_HEURRB";
    case XA_HEURMIX:
      return "XA_HEURMIX";
    case XA_RETRY:
      return "XA_RETRY";
    case XA_RDONLY:
      return "XA_RDONLY";
    case XA_OK:
      return "XA_OK";
    case XAER_ASYNC:
      return "XAER_ASYNC";
    case XAER_RMERR:
      return "XAER_RMERR";
    case XAER_NOTA:
      return "XAER_NOTA";
    case XAER_INVAL:
      return "XAER_INVAL";
    case XAER_PROTO:
      return "XAER_PROTO";
    case XAER_RMFAIL:
      return "XAER_RMFAIL";
    case XAER_DUPID:
      return "XAER_DUPID";
    case XAER_OUTSIDE:
      return "XAER_OUTSIDE";
    default:
      return nullptr;
  }
}

void format_xa_result(int result, char* out, size_t size) {
  const char* name = xa_result_name(result);
  if (name != nullptr) {
    std::snprintf(out, size, "%s", name);
  } else {
    std::snprintf(out, size, "%d", result);
  }
}

void format_xid_summary(const XID* xid, char* out, size_t size) {
  if (xid == nullptr) {
    std::snprintf(out, size, "null");
    return;
  }
  int used = std::snprintf(out, size, "fmt 0x%lx gtrid %ld bqual %ld data ",
                           static_cast<unsigned long>(xid->formatID), xid->gtrid_length,
                           xid->bqual_length);
  long shown = xid->gtrid_length + xid->bqual_length;
  if (shown < 0) shown = 0;
  constexpr long kShownBytes = 16;
  const bool cut = shown > kShownBytes;
  if (cut) shown = kShownBytes;
  for (long i = 0; i < shown && used > 0 && static_cast<size_t>(used) + 3 < size; ++i) {
    used += std::snprintf(out + used, size - static_cast<size_t>(used), "%02x",
                          static_cast<unsigned char>(xid->data[i]));
  }
  if (cut && used > 0 && static_cast<size_t>(used) + 4 < size) std::strcat(out, "...");
}

void diag_log_open(const char* switchName, const char* info, int rmid, long flags,
                   const char* client, int result, uint32_t thread) {
  if (diag_log_level() == kDiagOff) return;
  const char* text = info != nullptr ? info : "";
  char masked[2 * MAXINFOSIZE];
  mask_open_string(text, std::strlen(text), masked, sizeof masked);
  char resultText[32];
  format_xa_result(result, resultText, sizeof resultText);
  diag_log_line("open %s rmid %d flags 0x%lx info \"%s\" client %s result %s thread %lu",
                switchName, rmid, static_cast<unsigned long>(flags), masked,
                client != nullptr && client[0] != '\0' ? client : "(none loaded)", resultText,
                static_cast<unsigned long>(thread));
}

void diag_log_close(const char* switchName, int rmid, long flags, int result, uint32_t thread) {
  if (diag_log_level() == kDiagOff) return;
  char resultText[32];
  format_xa_result(result, resultText, sizeof resultText);
  diag_log_line("close %s rmid %d flags 0x%lx result %s thread %lu", switchName, rmid,
                static_cast<unsigned long>(flags), resultText, static_cast<unsigned long>(thread));
}

void diag_log_call(const char* switchName, const char* operation, const XID* xid, int rmid,
                   long flags, int result, bool resultIsCount) {
  const int32_t level = diag_log_level();
  if (level == kDiagOff) return;
  const bool failed = call_failed(result, resultIsCount);
  if (!failed && level < kDiagVerbose) return;
  char resultText[32];
  format_xa_result(result, resultText, sizeof resultText);
  char xidText[128] = "";
  if (xid != nullptr) format_xid_summary(xid, xidText, sizeof xidText);
  diag_log_line("%s %s %s rmid %d flags 0x%lx%s%s result %s", failed ? "failed" : "call",
                switchName, operation, rmid, static_cast<unsigned long>(flags),
                xid != nullptr ? " xid " : "", xidText, resultText);
}

}  // namespace zp
