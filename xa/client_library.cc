// The client XA library loader and the caller's-thread accessors.
#include "xa/client_library.h"

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

int32_t load_client_xa_library() {
  KvLockGuard guard(clientLibraryLock());
  if (client_switch() != nullptr) return 1;
  platform::Library* module = g_clientXaLibrary.module.load(std::memory_order_acquire);
  if (module == nullptr) {
    g_clientXaLibrary.closeStringFlag.store(0);
    for (int i = 0; i < kClientCandidateCount && module == nullptr; ++i) {
      module = platform::libraryLoad(kClientCandidates[i]);
      if (module != nullptr && i == kCloseStringCandidate)
        g_clientXaLibrary.closeStringFlag.store(1);
    }
    if (module == nullptr) return 0;
    g_clientXaLibrary.module.store(module, std::memory_order_release);
  }
  // The export is the switch record itself, not a function returning it.
  auto* clientSwitch = static_cast<xa_switch_t*>(platform::librarySymbol(module, "xaosw"));
  if (clientSwitch == nullptr) return 0;
  g_clientXaLibrary.switchPointer.store(clientSwitch, std::memory_order_release);
  return 1;
}

ClientAccessor client_accessor(const char* exportName) {
  platform::Library* module = g_clientXaLibrary.module.load(std::memory_order_acquire);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<ClientAccessor>(platform::librarySymbol(module, exportName));
}

}  // namespace zp

namespace {

void* call_accessor(const char* exportName, char* dbname) {
  zp::ClientAccessor accessor = zp::client_accessor(exportName);
  return accessor == nullptr ? nullptr : accessor(dbname);
}

}  // namespace

extern "C" ZP_EXPORT void* hkMQXaoEnv(char* dbname) {
  return call_accessor(zp::kXaoEnvName, dbname);
}

extern "C" ZP_EXPORT void* hkMQXaoSvcCtx(char* dbname) {
  return call_accessor(zp::kXaoSvcCtxName, dbname);
}
