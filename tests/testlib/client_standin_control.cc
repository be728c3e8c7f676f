#include "testlib/client_standin_control.h"

#include <chrono>

#include "platform/platform.h"
#include "xa/client_library.h"

namespace zp {
namespace test {

StandinControl StandinControl::loaded() {
  StandinControl control;
  platform::Library* module = g_clientXaLibrary.module.load();
  if (module == nullptr) return control;
  auto lookup = [module](const char* name) { return platform::librarySymbol(module, name); };
  control.reset_ = reinterpret_cast<StandinResetFn>(lookup(ZP_STANDIN_RESET));
  control.setResult_ = reinterpret_cast<StandinSetResultFn>(lookup(ZP_STANDIN_SET_RESULT));
  control.callCount_ = reinterpret_cast<StandinCallCountFn>(lookup(ZP_STANDIN_CALL_COUNT));
  control.getCall_ = reinterpret_cast<StandinGetCallFn>(lookup(ZP_STANDIN_GET_CALL));
  control.name_ = reinterpret_cast<StandinNameFn>(lookup(ZP_STANDIN_NAME));
  if (!control.setResult_ || !control.callCount_ || !control.getCall_ || !control.name_) {
    control.reset_ = nullptr;
  }
  control.hold_ = reinterpret_cast<StandinHoldFn>(lookup(ZP_STANDIN_HOLD));
  control.held_ = reinterpret_cast<StandinHeldFn>(lookup(ZP_STANDIN_HELD));
  control.letGo_ = reinterpret_cast<StandinLetGoFn>(lookup(ZP_STANDIN_LET_GO));
  if (control.hold_ == nullptr || control.held_ == nullptr) control.letGo_ = nullptr;
  return control;
}

bool StandinControl::awaitHeld() const {
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ZP_STANDIN_HOLD_LIMIT_MS);
  while (!held()) {
    if (std::chrono::steady_clock::now() > limit) return false;
  }
  return true;
}

std::string StandinControl::name() const { return valid() ? name_() : std::string(); }

void StandinControl::reset() const {
  if (valid()) reset_();
}

void StandinControl::setResult(StandinOperation operation, int32_t result) const {
  if (valid()) setResult_(operation, result);
}

std::vector<StandinCall> StandinControl::calls() const {
  std::vector<StandinCall> out;
  if (!valid()) return out;
  const int32_t count = callCount_();
  for (int32_t i = 0; i < count; ++i) {
    StandinCall call;
    if (getCall_(i, &call) == 0) out.push_back(call);
  }
  return out;
}

}  // namespace test
}  // namespace zp
