#include "dtc_driver.h"

#include <cstring>

namespace zp {
namespace test {

xa_switch_t* dtcSwitch() {
  // Fetched once, as a transaction manager does before its threads use it.
  static xa_switch_t* const record = [] {
    xa_switch_t* fetched = nullptr;
    return GetXaSwitch(0, &fetched) == 0 ? fetched : nullptr;
  }();
  return record;
}

int openRm(int rmid, const std::string& info) {
  std::vector<char> copy(info.begin(), info.end());
  copy.push_back('\0');
  return dtcSwitch()->xa_open_entry(copy.data(), rmid, TMNOFLAGS);
}

int closeRm(int rmid) {
  char info[] = "ORACLE_XA";
  return dtcSwitch()->xa_close_entry(info, rmid, TMNOFLAGS);
}

bool hasWorker(int rmid) {
  char db[] = "ORCL";
  return hkXaoEnv(rmid, db) != nullptr;
}

XID sampleXid(long formatId) {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = formatId;
  xid.gtrid_length = 12;
  xid.bqual_length = 4;
  std::memcpy(xid.data, "gtrid-000001bq01", 16);
  return xid;
}

std::vector<StandinCall> clientCallsFor(int rmid) {
  std::vector<StandinCall> out;
  for (const StandinCall& call : StandinControl::loaded().calls()) {
    const bool accessor = call.operation == kStandinXaoEnv || call.operation == kStandinXaoSvcCtx;
    if (!accessor && call.rmid == rmid) out.push_back(call);
  }
  return out;
}

std::vector<StandinCall> clientCallsOf(StandinOperation operation) {
  std::vector<StandinCall> out;
  for (const StandinCall& call : StandinControl::loaded().calls()) {
    if (call.operation == operation) out.push_back(call);
  }
  return out;
}

}  // namespace test
}  // namespace zp
