// The client XA library loader and the caller's-thread accessors.
#include "xa/client_library.h"

#include <cstdio>
#include <cstring>

#include "module/diag_log.h"
#include "module/libmain.h"
#include "module/statics.h"
#include "support/kvcritse.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {

ClientXaLibrary g_clientXaLibrary;

#ifdef _WIN32
const char* const kClientCandidates[kClientCandidateCount] = {"XA80.DLL", "ORACLIENT8.DLL",
                                                              "ORACLIENT9.DLL", "ORACLIENT10.DLL"};
#else
const char* const kClientCandidates[kClientCandidateCount] = {
    "libxa80.so", "liboraclient8.so", "liboraclient9.so", "liboraclient10.so"};
#endif

const char kCloseString[] = "This_is_close_string";

namespace {

constexpr size_t kReasonSize = 512;

// Appends "name: reason" to the list of candidates that did not load.
void note_refusal(char* refusals, size_t size, const char* name, const char* reason) {
  const size_t used = std::strlen(refusals);
  if (used + 1 >= size) return;
  std::snprintf(refusals + used, size - used, "%s%s: %s", used == 0 ? "" : "; ", name, reason);
}

// Records which candidate was loaded, its full path and why, for the log.
void describe_loaded(platform::Library* module, int index, const char* refusals) {
  char path[512];
  if (platform::libraryFilePath(module, path, sizeof path) == 0) {
    std::snprintf(path, sizeof path, "%s", kClientCandidates[index]);
  }
  if (index == 0) {
    std::snprintf(g_clientXaLibrary.description, sizeof g_clientXaLibrary.description,
                  "%s (the first candidate)", path);
  } else {
    std::snprintf(g_clientXaLibrary.description, sizeof g_clientXaLibrary.description,
                  "%s (candidate %d of %d%s; not loaded: %s)", path, index + 1,
                  kClientCandidateCount, index == kCloseStringCandidate ? ", close string set" : "",
                  refusals);
  }
  diag_log_line("client library loaded: %s", g_clientXaLibrary.description);
}

}  // namespace

int32_t load_client_xa_library() {
  KvLockGuard guard(clientLibraryLock());
  if (client_switch() != nullptr) return kClientSwitchHeld;
  platform::Library* module = g_clientXaLibrary.module.load(std::memory_order_acquire);
  if (module == nullptr) {
    g_clientXaLibrary.closeStringFlag.store(0);
    char refusals[2 * kReasonSize] = "";
    int loaded = -1;
    for (int i = 0; i < kClientCandidateCount && module == nullptr; ++i) {
      char reason[kReasonSize];
      module = platform::libraryLoadExplained(kClientCandidates[i], reason, sizeof reason);
      if (module == nullptr) {
        note_refusal(refusals, sizeof refusals, kClientCandidates[i], reason);
        continue;
      }
      loaded = i;
      if (i == kCloseStringCandidate) g_clientXaLibrary.closeStringFlag.store(1);
    }
    if (module == nullptr) {
      diag_log_line("client library: no candidate loads: %s", refusals);
      return kClientSwitchMissing;
    }
    describe_loaded(module, loaded, refusals);
    g_clientXaLibrary.module.store(module, std::memory_order_release);
  }
  // The export is the switch record itself, not a function returning it.
  auto* clientSwitch = static_cast<xa_switch_t*>(platform::librarySymbol(module, "xaosw"));
  if (clientSwitch == nullptr) {
    diag_log_line("client library %s exports no \"xaosw\": every open fails",
                  g_clientXaLibrary.description);
    return kClientSwitchMissing;
  }
  g_clientXaLibrary.switchPointer.store(clientSwitch, std::memory_order_release);
  return kClientSwitchHeld;
}

void* call_client_accessor(const char* exportName, char* dbname) {
  using ClientAccessor = void* (*)(char* dbname);
  platform::Library* module = g_clientXaLibrary.module.load(std::memory_order_acquire);
  if (module == nullptr) return nullptr;
  auto accessor = reinterpret_cast<ClientAccessor>(platform::librarySymbol(module, exportName));
  return accessor == nullptr ? nullptr : accessor(dbname);
}

}  // namespace zp

extern "C" ZP_EXPORT void* hkMQXaoEnv(char* dbname) {
  const zp::ModuleCall gate;
  if (!gate.admitted()) return nullptr;
  return zp::call_client_accessor(zp::kXaoEnvName, dbname);
}

extern "C" ZP_EXPORT void* hkMQXaoSvcCtx(char* dbname) {
  const zp::ModuleCall gate;
  if (!gate.admitted()) return nullptr;
  return zp::call_client_accessor(zp::kXaoSvcCtxName, dbname);
}
