// Shared pieces of the MQStart tests: open strings that ask for tracing, and
// a known XID with the records its dump produces.
#ifndef ZP_TESTS_MQ_MQ_TEST_SUPPORT_H
#define ZP_TESTS_MQ_MQ_TEST_SUPPORT_H

#include <cstring>
#include <string>
#include <vector>

#include "xa/open_string.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace test {

// "+Trace=2", the trace library option of this target naming library (left
// out when null) and "+TraceFile=" with file (left out when null).
inline std::string traceOptions(const char* library, const char* file) {
  std::string options = "+Trace=2";
  if (library != nullptr) options += std::string("+") + kTraceDllKeyword + "=" + library;
  if (file != nullptr) options += std::string("+TraceFile=") + file;
  return options;
}

// formatID 4660, gtrid 0a ff, bqual 01.
inline XID knownXid() {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = 4660;
  xid.gtrid_length = 2;
  xid.bqual_length = 1;
  xid.data[0] = 0x0a;
  xid.data[1] = static_cast<char>(0xff);
  xid.data[2] = 0x01;
  return xid;
}

// The five data records of knownXid() under function, as the stand-in keeps them.
inline std::vector<std::string> knownXidLines(const std::string& function) {
  const std::string data = "data " + function + ": ";
  return {data + "xid->formatID: 0x1234 (4660)", data + "xid->gtrid_length: 0x0002 (2)",
          data + "xid->gtrid: 0a ff ", data + "xid->bqual_length: 0x0001 (1)",
          data + "xid->bqual: 01 "};
}

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_MQ_MQ_TEST_SUPPORT_H
