// The module switch record: the one static xa_switch_t, named "Oracle8 Server",
// that both entry points (GetXaSwitch and MQStart) fill with their own ten
// entries and hand out. The last fill wins for every holder of the address.
#ifndef ZP_XA_SWITCH_RECORD_H
#define ZP_XA_SWITCH_RECORD_H

#include "zpor8dtc23/xa.h"

namespace zp {

// Ten entries in the standard's order.
struct XaEntrySet {
  int (*open)(char* xa_info, int rmid, long flags);
  int (*close)(char* xa_info, int rmid, long flags);
  int (*start)(XID* xid, int rmid, long flags);
  int (*end)(XID* xid, int rmid, long flags);
  int (*rollback)(XID* xid, int rmid, long flags);
  int (*prepare)(XID* xid, int rmid, long flags);
  int (*commit)(XID* xid, int rmid, long flags);
  int (*recover)(XID* xids, long count, int rmid, long flags);
  int (*forget)(XID* xid, int rmid, long flags);
  int (*complete)(int* handle, int* retval, int rmid, long flags);
};

extern const char kSwitchName[];  // "Oracle8 Server"

// Writes the name, flags 0, version 1 and the entries into the module switch
// record and returns its address. entryPoint names the caller ("MQStart",
// "GetXaSwitch"): when the record held the other entry point's entries, the
// diagnostic log (normal level) gets one line saying that they were replaced
// for every holder. Loads, allocates and locks nothing.
xa_switch_t* fill_switch_record(const XaEntrySet& entries, const char* entryPoint = "a caller");

}  // namespace zp

#endif  // ZP_XA_SWITCH_RECORD_H
