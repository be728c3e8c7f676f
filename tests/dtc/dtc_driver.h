// What the tests of the GetXaSwitch path share: the switch as a transaction
// manager obtains it, XIDs, and the stand-in's record of calls by rmid.
#ifndef ZP_TESTS_DTC_DTC_DRIVER_H
#define ZP_TESTS_DTC_DTC_DRIVER_H

#include <string>
#include <vector>

#include "testlib/client_standin_control.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace test {

// The switch from GetXaSwitch, fetched by the first call (make it on the
// main thread before others use the switch); null when it failed.
xa_switch_t* dtcSwitch();

// Opens rmid through the switch with info (copied, so the module may not
// keep it). Returns the switch's result.
int openRm(int rmid, const std::string& info = "ORACLE_XA+DB=ORCL");
int closeRm(int rmid);

// True when rmid has a worker: only a worker answers hkXaoEnv with the
// stand-in's handle.
bool hasWorker(int rmid);

// An XID whose branch qualifier length is not 32.
XID sampleXid(long formatId = 7);

// The stand-in's calls for rmid (accessor calls carry rmid 0 and are left
// out), in the order received.
std::vector<StandinCall> clientCallsFor(int rmid);
// The stand-in's calls of one operation.
std::vector<StandinCall> clientCallsOf(StandinOperation operation);

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_DTC_DTC_DRIVER_H
