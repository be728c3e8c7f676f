// The test's handle on the stand-in client library that the module loaded:
// scripts its results and reads back the calls it received.
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

 private:
  StandinResetFn reset_ = nullptr;
  StandinSetResultFn setResult_ = nullptr;
  StandinCallCountFn callCount_ = nullptr;
  StandinGetCallFn getCall_ = nullptr;
  StandinNameFn name_ = nullptr;
};

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_CLIENT_STANDIN_CONTROL_H
