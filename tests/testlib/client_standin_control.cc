#include "testlib/client_standin_control.h"

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
  return control;
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
