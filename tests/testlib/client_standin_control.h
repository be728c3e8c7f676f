// The test's handle on the stand-in client library that the module loaded:
// scripts its results, reads back the calls it received, and can hold one
// call inside the client until the test lets it go (see standin_hold).
#ifndef ZP_TESTS_TESTLIB_CLIENT_STANDIN_CONTROL_H
#define ZP_TESTS_TESTLIB_CLIENT_STANDIN_CONTROL_H

#include <string>
#include <vector>

#include "stand-ins/client/client_standin.h"

namespace zp {
namespace test {

class StandinControl {
 public:
  // The stand-in the module holds (after an xa_open loaded it). valid() is
  // false when the module holds no library or it is not a stand-in.
  static StandinControl loaded();

  bool valid() const { return reset_ != nullptr; }
  // The candidate file name the held library was built as.
  std::string name() const;
  void reset() const;
  void setResult(StandinOperation operation, int32_t result) const;
  std::vector<StandinCall> calls() const;

  // Whether the held library has the hold controls; the four below require it.
  bool canHold() const { return letGo_ != nullptr; }
  void hold(StandinOperation operation, int32_t rmid) const { hold_(operation, rmid); }
  bool held() const { return held_() != 0; }
  void letGo() const { letGo_(); }
  // Waits until a held call waits in the client; false when none did within
  // the stand-in's hold limit.
  bool awaitHeld() const;

 private:
  StandinResetFn reset_ = nullptr;
  StandinSetResultFn setResult_ = nullptr;
  StandinCallCountFn callCount_ = nullptr;
  StandinGetCallFn getCall_ = nullptr;
  StandinNameFn name_ = nullptr;
  StandinHoldFn hold_ = nullptr;
  StandinHeldFn held_ = nullptr;
  StandinLetGoFn letGo_ = nullptr;
};

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_CLIENT_STANDIN_CONTROL_H
