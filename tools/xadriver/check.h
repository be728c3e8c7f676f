// The driver's check command: why might an xa_open answer XAER_RMERR? One
// line per finding, each OK, WARN or FAIL.
#ifndef ZP_TOOLS_XADRIVER_CHECK_H
#define ZP_TOOLS_XADRIVER_CHECK_H

#include <string>

namespace zp {
namespace xadriver {

struct CheckRequest {
  std::string moduleFile;
  std::string programDir;  // where the driver sits: the module's default place
  bool hasOpenString = false;
  std::string openString;
  std::string traceLibrary;  // empty: the one the open string names, if any
  bool dtcRegistry = false;  // also check DTC's XADLL value and XA setting
};

// Prints the findings and returns the number of FAIL lines.
int runCheck(const CheckRequest& request);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_CHECK_H
