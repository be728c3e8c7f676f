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

constexpr size_t kLineSize = 1280;
constexpr size_t kTextSize = 1024;
constexpr size_t kSettingSize = 64;
// A full log looks at its file again after this long.
constexpr int64_t kFullLookInterval = 1000 * 1000 * 1000;

// Room kept at the end of the file for the line that may start just below
// the threshold and the "log full" line after it.
constexpr uint64_t kEndRoom = kLineSize + 128;
constexpr uint64_t kSmallestLimit = 2 * kEndRoom;

// Process-wide, zero at load. path and limit are written by diag_log_start
// before the level is set. full is set and cleared under lock and read
// without it to drop a line early; nextLook (monotonic nanoseconds) is when a
// full log may look at its file again.
struct DiagLogState {
  char path[kDiagPathSize];
  uint64_t limit;
  std::atomic<bool> full;
  std::atomic<int64_t> nextLook;
  bool lockReady;
  platform::LockStorage lock;
};
DiagLogState g_diagLog;

// A line is written while the file is below this size, so that the file
// never grows past the limit. Every process that writes the file asks it for
// its size, so the bound holds for all of them together.
uint64_t write_threshold() { return g_diagLog.limit - kEndRoom; }

const char* level_name(int32_t level) { return level == kDiagVerbose ? "verbose" : "normal"; }

bool same_ignoring_case(const char* text, const char* lower) {
  for (; *lower != '\0'; ++text, ++lower) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lower) return false;
  }
  return *text == '\0';
}

// "verbose" or 2, "normal" or 1 (any letter case); anything else is -1.
int32_t parse_level(const char* text) {
  if (same_ignoring_case(text, "verbose") || same_ignoring_case(text, "2")) return kDiagVerbose;
  if (same_ignoring_case(text, "normal") || same_ignoring_case(text, "1")) return kDiagNormal;
  return -1;
}

// A whole decimal number of bytes, at least 1 (raised to the smallest limit);
// 0 when the text is not one.
uint64_t parse_limit(const char* text) {
  if (text[0] < '0' || text[0] > '9') return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value == 0) return 0;
  return value < kSmallestLimit ? kSmallestLimit : value;
}

void add_note(DiagSettings* settings, const char* name, const char* format, ...)
    ZP_DIAG_PRINTF(3, 4);
void add_note(DiagSettings* settings, const char* name, const char* format, ...) {
  constexpr int kNotes = sizeof settings->notes / sizeof settings->notes[0];
  if (settings->noteCount >= kNotes) return;
  char* note = settings->notes[settings->noteCount++];
  const int used = std::snprintf(note, sizeof settings->notes[0], "setting %s ignored: ", name);
  va_list args;
  va_start(args, format);
  std::vsnprintf(note + used, sizeof settings->notes[0] - static_cast<size_t>(used), format, args);
  va_end(args);
}

// Reads one setting from the environment, else from the registry value,
// into out; empty when absent or unusable (then noted).
void read_setting(DiagSettings* settings, const char* variable, const char* registryName, char* out,
                  size_t size) {
  if (!settings->fromRegistry) {
    const size_t length = platform::environmentGet(variable, out, size);
    if (length >= size) {
      out[0] = '\0';
      add_note(settings, variable, "longer than %u characters", static_cast<unsigned>(size - 1));
    }
    return;
  }
  switch (platform::registryReadMachineSetting(kDiagRegistryKey, registryName, out, size)) {
    case platform::RegistrySetting::kAbsent:
    case platform::RegistrySetting::kText:
      return;
    case platform::RegistrySetting::kWrongType:
      add_note(settings, registryName,
               "a %s value (settings are read from REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_QWORD)",
               out);
      break;
    case platform::RegistrySetting::kTooLong:
      add_note(settings, registryName, "longer than %u characters",
               static_cast<unsigned>(size - 1));
      break;
  }
  out[0] = '\0';
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

// A full log looks at its file no more than once a second: until then a
// line is dropped before it is even formatted.
bool dropped_while_full() {
  return g_diagLog.full.load(std::memory_order_relaxed) &&
         platform::monotonicNanoseconds() < g_diagLog.nextLook.load(std::memory_order_relaxed);
}

// Appends line (length bytes, ending in a line feed) while the file is below
// its threshold; past it, one "log full" line, and lines are dropped until
// the file at the path is below the threshold again (deleted, moved or
// emptied), when the log starts afresh with a line that says so.
void append_line(const char* line, size_t length, const char* prefix) {
  platform::lockEnter(&g_diagLog.lock);
  uint64_t size = 0;
  if (g_diagLog.full.load(std::memory_order_relaxed)) {
    const int64_t now = platform::monotonicNanoseconds();
    if (now < g_diagLog.nextLook.load(std::memory_order_relaxed)) {
      platform::lockLeave(&g_diagLog.lock);
      return;
    }
    g_diagLog.nextLook.store(now + kFullLookInterval, std::memory_order_relaxed);
    if (platform::fileSize(g_diagLog.path, &size) && size >= write_threshold()) {
      platform::lockLeave(&g_diagLog.lock);
      return;
    }
    g_diagLog.full.store(false, std::memory_order_relaxed);
    char first[160];
    std::snprintf(first, sizeof first,
                  "%slog restarts: the full file was deleted, moved or emptied\n", prefix);
    platform::fileAppendRegular(g_diagLog.path, first, std::strlen(first));
  }
  size = 0;
  platform::fileSize(g_diagLog.path, &size);
  if (size < write_threshold()) {
    platform::fileAppendRegular(g_diagLog.path, line, length);
  } else {
    g_diagLog.full.store(true, std::memory_order_relaxed);
    g_diagLog.nextLook.store(platform::monotonicNanoseconds() + kFullLookInterval,
                             std::memory_order_relaxed);
    char last[128];
    std::snprintf(last, sizeof last, "%slog full: %llu bytes reached, nothing more is written\n",
                  prefix, static_cast<unsigned long long>(g_diagLog.limit));
    platform::fileAppendRegular(g_diagLog.path, last, std::strlen(last));
  }
  platform::lockLeave(&g_diagLog.lock);
}

void write_vline(const char* format, va_list args) {
  if (dropped_while_full()) return;
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

void diag_log_read_settings(DiagSettings* settings) {
  *settings = DiagSettings{};
  settings->level = kDiagNormal;
  settings->limit = kDiagDefaultLimit;
  size_t length = platform::environmentGet(kDiagLogVariable, settings->path, kDiagPathSize);
  if (length >= kDiagPathSize) {
    add_note(settings, kDiagLogVariable, "longer than %u characters",
             static_cast<unsigned>(kDiagPathSize - 1));
  }
  if (length == 0) {
    settings->fromRegistry = true;
    read_setting(settings, kDiagLogVariable, kDiagRegistryFile, settings->path, kDiagPathSize);
    length = std::strlen(settings->path);
  }
  if (length == 0 || length >= kDiagPathSize) {
    settings->path[0] = '\0';
    return;
  }
  char setting[kSettingSize];
  const char* name = settings->fromRegistry ? kDiagRegistryLevel : kDiagLevelVariable;
  read_setting(settings, kDiagLevelVariable, kDiagRegistryLevel, setting, sizeof setting);
  if (setting[0] != '\0') {
    const int32_t level = parse_level(setting);
    if (level < 0) {
      add_note(settings, name, "\"%s\" is not normal, verbose, 1 or 2; the normal level applies",
               setting);
    } else {
      settings->level = level;
    }
  }
  name = settings->fromRegistry ? kDiagRegistryLimit : kDiagLimitVariable;
  read_setting(settings, kDiagLimitVariable, kDiagRegistryLimit, setting, sizeof setting);
  if (setting[0] != '\0') {
    const uint64_t limit = parse_limit(setting);
    if (limit == 0) {
      add_note(settings, name, "\"%s\" is not a whole number of bytes; the limit is %llu", setting,
               static_cast<unsigned long long>(kDiagDefaultLimit));
    } else {
      settings->limit = limit;
    }
  }
}

void diag_log_start() {
  if (diag_log_level() != kDiagOff) return;
  DiagSettings settings;
  diag_log_read_settings(&settings);
  if (settings.path[0] == '\0') return;
  std::memcpy(g_diagLog.path, settings.path, kDiagPathSize);
  g_diagLog.limit = settings.limit;
  if (!g_diagLog.lockReady) {
    platform::lockInit(&g_diagLog.lock);
    g_diagLog.lockReady = true;
  }
  // A full file stays as it is, its "log full" line there already, until it
  // is deleted, moved or emptied.
  uint64_t size = 0;
  const bool full = platform::fileSize(g_diagLog.path, &size) && size >= write_threshold();
  g_diagLog.nextLook.store(platform::monotonicNanoseconds(), std::memory_order_relaxed);
  g_diagLog.full.store(full, std::memory_order_relaxed);
  g_diagLogLevel.store(settings.level, std::memory_order_relaxed);
  if (full) return;

  char module[kDiagPathSize];
  char program[kDiagPathSize];
  if (platform::moduleFilePath(module, sizeof module) == 0) std::strcpy(module, "(unknown)");
  if (platform::processFilePath(program, sizeof program) == 0) std::strcpy(program, "(unknown)");
  write_line(
      "load module %s version %s %u-bit process %s level %s limit %llu settings from %s", module,
      ZP_VERSION_STRING, static_cast<unsigned>(sizeof(void*) * 8), program,
      level_name(settings.level), static_cast<unsigned long long>(g_diagLog.limit),
      settings.fromRegistry ? "the registry (HKLM\\SOFTWARE\\zpor8dtc23)" : "the environment");
  for (int i = 0; i < settings.noteCount; ++i) write_line("%s", settings.notes[i]);
}

void diag_log_stop() {
  if (diag_log_level() != kDiagOff) {
    char module[kDiagPathSize];
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
  // A count (xa_recover's branches) is a number, not a result: "returned 100",
  // never the result name that happens to share its value.
  char resultText[40];
  if (resultIsCount && result >= 0) {
    std::snprintf(resultText, sizeof resultText, "returned %d", result);
  } else {
    std::memcpy(resultText, "result ", sizeof "result ");
    format_xa_result(result, resultText + 7, sizeof resultText - 7);
  }
  char xidText[128] = "";
  if (xid != nullptr) format_xid_summary(xid, xidText, sizeof xidText);
  diag_log_line("%s %s %s rmid %d flags 0x%lx%s%s %s", failed ? "failed" : "call", switchName,
                operation, rmid, static_cast<unsigned long>(flags), xid != nullptr ? " xid " : "",
                xidText, resultText);
}

}  // namespace zp
