// The Oracle client XA library: found once per process by its candidate file
// names, its exported switch `xaosw` held for the rest of the process, never
// unloaded. Also the accessors hkMQXaoEnv / hkMQXaoSvcCtx (caller's thread).
#ifndef ZP_XA_CLIENT_LIBRARY_H
#define ZP_XA_CLIENT_LIBRARY_H

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "zpor8dtc23/xa.h"

namespace zp {

// Process-wide, zero at load. Written only under clientLibraryLock() and only
// until the switch pointer is set; read without the lock afterwards.
struct ClientXaLibrary {
  std::atomic<platform::Library*> module;
  std::atomic<xa_switch_t*> switchPointer;
  std::atomic<int32_t> closeStringFlag;  // 1 when the second candidate loaded
  // The loaded file's full path and why it was chosen, for the diagnostic
  // log; written before switchPointer is set.
  char description[768];
};
extern ClientXaLibrary g_clientXaLibrary;

constexpr int kClientCandidateCount = 4;
// The file names tried, in order ("XA80.DLL", "ORACLIENT8.DLL", ... on
// Windows; "libxa80.so", "liboraclient8.so", ... on Linux). Loading the second
// one sets the close-string flag.
extern const char* const kClientCandidates[kClientCandidateCount];
constexpr int kCloseStringCandidate = 1;

// The close string handed to the client instead of the caller's while the
// close-string flag is set.
extern const char kCloseString[];  // "This_is_close_string"

// What load_client_xa_library returns.
constexpr int32_t kClientSwitchHeld = 1;
constexpr int32_t kClientSwitchMissing = 0;

// Loads the client library (first call that finds one) and takes its switch.
// Returns kClientSwitchHeld when the switch is held, kClientSwitchMissing
// otherwise: no candidate loads (the next call tries all again), or the loaded
// one lacks "xaosw" (every later call fails too). Serialised by
// clientLibraryLock().
int32_t load_client_xa_library();

// The held client switch, or null. No lock.
inline xa_switch_t* client_switch() {
  return g_clientXaLibrary.switchPointer.load(std::memory_order_acquire);
}
// The loaded client library's path and why it was chosen, or "" while no
// switch is held. No lock.
inline const char* client_library_description() {
  return client_switch() != nullptr ? g_clientXaLibrary.description : "";
}
inline bool client_close_string_flag() {
  return g_clientXaLibrary.closeStringFlag.load(std::memory_order_relaxed) != 0;
}

// Calls the client's accessor export exportName (a fresh lookup each call, no
// lock) with dbname on the calling thread: the handle it gives, or null when
// no library is held or it lacks the export. Both switches' accessors (on the
// worker thread, on the caller's thread) come here.
void* call_client_accessor(const char* exportName, char* dbname);

constexpr char kXaoEnvName[] = "xaoEnv";
constexpr char kXaoSvcCtxName[] = "xaoSvcCtx";

}  // namespace zp

#endif  // ZP_XA_CLIENT_LIBRARY_H
