// A host process at the edges of its life, one scene per run, for
// repeat_child.cmake to run again and again with a time limit:
//   exit-in-flight MODULE  twelve threads call xa_start / xa_end on open
//                          rmids while the main thread calls exit()
//   exit-in-flight-mq MODULE TRACE  the same through MQStart's switch, traced
//                          with the trace library TRACE
//   open-at-load TM        the transaction manager's library opens an rmid
//                          from its static constructor
//   close-at-exit TM       it closes its rmids from its static destructor at
//                          process exit
//   close-at-unload TM     ... when the host unloads it
// Prints what it saw; returns 0 unless a step failed outright.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace {

using zp::platform::Library;

constexpr int kThreads = 12;
constexpr int kCallsBeforeExit = 20;

struct Caller {
  xa_switch_t* sw;
  int rmid;
  std::atomic<int>* calls;
  // Opened again before each start when set: on the MQ switch a traced open
  // binds the trace library afresh under the trace lock, and takes the client
  // library's lock.
  std::string reopen;
};

uint32_t callForEver(void* argument) {
  const Caller* caller = static_cast<Caller*>(argument);
  XID xid = {};
  xid.formatID = 1;
  xid.gtrid_length = 4;
  xid.bqual_length = 4;
  std::string info = caller->reopen;
  for (;;) {
    if (!info.empty()) caller->sw->xa_open_entry(&info[0], caller->rmid, TMNOFLAGS);
    caller->sw->xa_start_entry(&xid, caller->rmid, TMNOFLAGS);
    caller->sw->xa_end_entry(&xid, caller->rmid, TMSUCCESS);
    caller->calls->fetch_add(1);
  }
}

// The MQ row traces every call, so that the trace library's binding and the
// module's trace lock are in use when the process ends.
xa_switch_t* moduleSwitch(const char* module, const char* traceLibrary, std::string* info) {
  Library* library = zp::platform::libraryLoad(module);
  if (library == nullptr) return nullptr;
  if (traceLibrary == nullptr) {
    auto* getSwitch = reinterpret_cast<int32_t (*)(uint32_t, xa_switch_t**)>(
        zp::platform::librarySymbol(library, "GetXaSwitch"));
    xa_switch_t* sw = nullptr;
    return getSwitch != nullptr && getSwitch(0, &sw) == 0 ? sw : nullptr;
  }
  auto* mqStart =
      reinterpret_cast<xa_switch_t* (*)()>(zp::platform::librarySymbol(library, "MQStart"));
  // A fresh log for each run, so that the repeats do not grow one file.
  constexpr char kTraceFile[] = "host_child_mq_trace.log";
  std::remove(kTraceFile);
  *info += std::string("+Trace=2+") + (sizeof(void*) == 8 ? "TraceDll64=" : "TraceDll32=") +
           traceLibrary + "+TraceFile=" + kTraceFile;
  return mqStart != nullptr ? mqStart() : nullptr;
}

int exitInFlight(const char* module, const char* traceLibrary) {
  std::string info = "ORACLE_XA+DB=ORCL";
  xa_switch_t* sw = moduleSwitch(module, traceLibrary, &info);
  if (sw == nullptr) return 2;
  static Caller callers[kThreads];
  static std::atomic<int> calls[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    std::string text = info;
    if (sw->xa_open_entry(&text[0], i + 1, TMNOFLAGS) != XA_OK) return 3;
    callers[i] = {sw, i + 1, &calls[i], traceLibrary != nullptr ? info : std::string()};
    uint32_t id = 0;
    if (!zp::platform::threadStartDetached(callForEver, &callers[i], &id)) return 4;
  }
  // Every thread well into its calls (the runner's time limit bounds this).
  for (int i = 0; i < kThreads; ++i) {
    while (calls[i].load() < kCallsBeforeExit) zp::platform::threadYield();
  }
  std::printf("exiting\n");
  std::fflush(stdout);
  std::exit(0);
}

int withTm(const char* scene, const char* tm) {
  if (std::strcmp(scene, "open-at-load") == 0)
    zp::platform::environmentSet("ZP_TM_OPEN_AT_LOAD", "1");
  std::fflush(stdout);
  Library* library = zp::platform::libraryLoad(tm);
  auto* open = reinterpret_cast<int (*)(int)>(
      library != nullptr ? zp::platform::librarySymbol(library, "tm_open") : nullptr);
  if (open == nullptr) return 2;
  if (std::strcmp(scene, "open-at-load") != 0) {
    std::printf("opened %d %d %d\n", open(1), open(2), open(3));
    std::fflush(stdout);
  }
  if (std::strcmp(scene, "close-at-exit") == 0) return 0;  // the destructor runs at exit
  zp::platform::libraryUnload(library);
  std::printf("unloaded\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "exit-in-flight-mq") == 0) {
    return exitInFlight(argv[2], argv[3]);
  }
  if (argc != 3) return 2;
  if (std::strcmp(argv[1], "exit-in-flight") == 0) return exitInFlight(argv[2], nullptr);
  return withTm(argv[1], argv[2]);
}
