// A trace library for tests. It formats every record it receives and keeps it
// in the journal (journal.h), with every other call and its own loading and
// unloading. Compile definitions leave exports out to make the variants:
// ZP_STANDIN_NO_INIT (no mvTraceInit), ZP_STANDIN_NO_LEVEL (no
// mvSetTraceLevel), ZP_STANDIN_NO_RECORDS (none of the three record writers),
// ZP_STANDIN_NO_VERSION (no TraceVersion). ZP_STANDIN_NAME names the variant.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "journal.h"

#if defined(_WIN32)
#define ZP_STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define ZP_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void note(const std::string& line) { zp_journal_append(line.c_str()); }

// Records its loading and unloading. An unloading stand-in is no longer open.
struct Lifetime {
  Lifetime() { note(std::string("load ") + ZP_STANDIN_NAME); }
  ~Lifetime() {
    zp_journal_set_open(0);
    note(std::string("unload ") + ZP_STANDIN_NAME);
  }
} g_lifetime;

// Counts a call that needs an open stand-in for its length.
class Call {
 public:
  explicit Call(int32_t record) : keep_(zp_journal_call_begin(record) != 0) {}
  ~Call() { zp_journal_call_end(); }
  bool keep() const { return keep_; }

 private:
  bool keep_;
};

#if !defined(ZP_STANDIN_NO_RECORDS)
void record(const char* kind, const char* function, const char* format, va_list args) {
  Call call(1);
  if (!call.keep()) return;
  char text[2048];
  std::vsnprintf(text, sizeof text, format, args);
  note(std::string(kind) + " " + function + ": " + text);
}
#endif

}  // namespace

#if !defined(ZP_STANDIN_NO_VERSION)
ZP_STANDIN_EXPORT int32_t TraceVersion(void) {
  note("TraceVersion");
  return zp_journal_version();
}
#endif

// Declared with a 32-bit result so that a test can leave bits above the 16
// that count in the result register.
ZP_STANDIN_EXPORT int32_t TraceOpenLogFile(const char* file, char* scratch, int32_t size) {
  note(std::string("TraceOpenLogFile ") +
       (file == nullptr ? "NULL" : "\"" + std::string(file) + "\"") + " " + std::to_string(size));
  if (scratch != nullptr && size > 0) scratch[size - 1] = '\0';  // the buffer is writable
  const int32_t result = zp_journal_open_result();
  if ((result & 0xffff) == 0) zp_journal_set_open(1);
  return result;
}

ZP_STANDIN_EXPORT void TraceCloseLogFile(void) {
  {
    Call call(0);
    note("TraceCloseLogFile");
  }
  zp_journal_set_open(0);
}

#if !defined(ZP_STANDIN_NO_RECORDS)
ZP_STANDIN_EXPORT void mvTraceEntry(const char* function, const char* format, va_list args) {
  record("entry", function, format, args);
}
ZP_STANDIN_EXPORT void mvTraceExit(const char* function, const char* format, va_list args) {
  record("exit", function, format, args);
}
ZP_STANDIN_EXPORT void mvTraceData(const char* function, const char* format, va_list args) {
  record("data", function, format, args);
}
#endif

#if !defined(ZP_STANDIN_NO_LEVEL)
ZP_STANDIN_EXPORT void mvSetTraceLevel(uint32_t level) {
  Call call(0);
  note("mvSetTraceLevel " + std::to_string(level));
}
#endif

#if !defined(ZP_STANDIN_NO_INIT)
ZP_STANDIN_EXPORT void mvTraceInit(int32_t zero, const char* init) {
  Call call(0);
  note("mvTraceInit " + std::to_string(zero) + " \"" + (init == nullptr ? "(null)" : init) + "\"");
}
#endif
