// zptrace: the reference trace library. The module loads it by the name given
// in "+TraceDll32" (or "+TraceDll64") and hands it every trace record; it
// formats each record with the format and arguments it receives and appends it
// to its log file as one line:
//   2026-12-08 04:41:07.123 pid 4711 tid 4712 ENTRY or8_mq_xa_open xa_info: ...
// Records may come from many threads at once: a line is built on the caller's
// stack and written under one lock, so lines never interleave.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define ZPTRACE_EXPORT extern "C" __declspec(dllexport)
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#define ZPTRACE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kInterfaceVersion = 1000;
// Used when the module passes no file name or an empty one.
constexpr char kDefaultLogFile[] = "zptrace.log";
constexpr size_t kTextSize = 4096;
constexpr size_t kLineSize = kTextSize + 256;

// --- The little this library needs from the operating system. ---------------
#if defined(_WIN32)
SRWLOCK g_lock = SRWLOCK_INIT;
void lock() { AcquireSRWLockExclusive(&g_lock); }
void unlock() { ReleaseSRWLockExclusive(&g_lock); }
unsigned long process_id() { return GetCurrentProcessId(); }
unsigned long thread_id() { return GetCurrentThreadId(); }
int format_time(char* out, size_t size) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return std::snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
                       t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}
// Opens name for appending without ever waiting: a FIFO without a reader, a
// device or anything else but a regular file is refused (null).
FILE* open_log(const char* name) {
  HANDLE file = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  FILE* log = _fdopen(fd, "a");
  if (log == nullptr) _close(fd);
  return log;
}
#else
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
void lock() { pthread_mutex_lock(&g_lock); }
void unlock() { pthread_mutex_unlock(&g_lock); }
unsigned long process_id() { return static_cast<unsigned long>(getpid()); }
unsigned long thread_id() { return static_cast<unsigned long>(syscall(SYS_gettid)); }
int format_time(char* out, size_t size) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm t;
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &t);
  return std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900,
                       t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                       static_cast<int>(now.tv_usec / 1000));
}
// Opens name for appending without ever waiting: O_NONBLOCK makes a FIFO
// without a reader fail at once; anything but a regular file is refused (null).
FILE* open_log(const char* name) {
  const int fd =
      open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* log = fdopen(fd, "a");
  if (log == nullptr) close(fd);
  return log;
}
#endif
// ------------------------------------------------------------------------------

FILE* g_log;  // guarded by the lock
std::atomic<uint32_t> g_level{0};

class Locked {
 public:
  Locked() { lock(); }
  ~Locked() { unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// Appends one line: time, ids, kind, function and text. Line breaks inside
// the text become spaces, so every record stays one line.
void write_line(const char* kind, const char* function, const char* text) {
  char line[kLineSize];
  int used = format_time(line, sizeof line);
  if (used < 0) used = 0;
  const bool hasText = text != nullptr && text[0] != '\0';
  std::snprintf(line + used, sizeof line - static_cast<size_t>(used),
                " pid %lu tid %lu %-5s %s%s%s", process_id(), thread_id(), kind,
                function == nullptr ? "-" : function, hasText ? " " : "", hasText ? text : "");
  for (char* c = line; *c != '\0'; ++c) {
    if (*c == '\n' || *c == '\r') *c = ' ';
  }
  Locked locked;
  if (g_log == nullptr) return;
  std::fputs(line, g_log);
  std::fputc('\n', g_log);
  std::fflush(g_log);
}

void write_record(const char* kind, const char* function, const char* format, va_list args) {
  char text[kTextSize];
  if (format == nullptr) {
    text[0] = '\0';
  } else {
    std::vsnprintf(text, sizeof text, format, args);
  }
  write_line(kind, function, text);
}

}  // namespace

ZPTRACE_EXPORT int32_t TraceVersion(void) { return kInterfaceVersion; }

// Opens (appends to) the log file, closing one opened earlier. Returns 0 when
// it is open; otherwise 1, with a message in scratch. Never waits: a name
// that is not a regular file (a FIFO, a device) is refused.
ZPTRACE_EXPORT int16_t TraceOpenLogFile(const char* file, char* scratch, int32_t size) {
  const char* name = (file == nullptr || file[0] == '\0') ? kDefaultLogFile : file;
  {
    Locked locked;
    if (g_log != nullptr) std::fclose(g_log);
    g_log = open_log(name);
    if (g_log == nullptr) {
      if (scratch != nullptr && size > 0) {
        std::snprintf(scratch, static_cast<size_t>(size), "cannot open %s", name);
      }
      return 1;
    }
  }
  write_line("OPEN", "zptrace", name);
  return 0;
}

ZPTRACE_EXPORT void TraceCloseLogFile(void) {
  write_line("CLOSE", "zptrace", "");
  Locked locked;
  if (g_log != nullptr) std::fclose(g_log);
  g_log = nullptr;
}

ZPTRACE_EXPORT void mvTraceEntry(const char* function, const char* format, va_list args) {
  write_record("ENTRY", function, format, args);
}

ZPTRACE_EXPORT void mvTraceExit(const char* function, const char* format, va_list args) {
  write_record("EXIT", function, format, args);
}

ZPTRACE_EXPORT void mvTraceData(const char* function, const char* format, va_list args) {
  write_record("DATA", function, format, args);
}

// The level is kept for callers that ask for it; every record is written.
ZPTRACE_EXPORT void mvSetTraceLevel(uint32_t level) { g_level.store(level); }

ZPTRACE_EXPORT void mvTraceInit(int32_t, const char* init) {
  write_line("INIT", "zptrace", init == nullptr ? "" : init);
}
