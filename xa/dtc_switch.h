// The switch that GetXaSwitch hands out: ten entries that run every call of
// an rmid, from xa_open to xa_close, on that rmid's own worker thread.
#ifndef ZP_XA_DTC_SWITCH_H
#define ZP_XA_DTC_SWITCH_H

#include <cstdint>

#include "zpor8dtc23/xa.h"

namespace zp {

// GetXaSwitch's answer for a null out-pointer (E_POINTER).
constexpr int32_t kHresultPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t kHresultOk = 0;

// The length the single-XID entries give every XID's branch qualifier.
constexpr long kDtcBqualLength = 32;

// Creates a worker for rmid and runs the client's xa_open on it with the
// filtered xa_info (null reads as empty). XAER_RMERR when the library, memory,
// a semaphore or the thread cannot be had, or the filtered string does not fit
// MAXINFOSIZE; then no worker is left. Otherwise the client's result.
int dtc_xa_open(char* xa_info, int rmid, long flags);
// Runs the client's xa_close on rmid's worker, then ends the worker whatever
// the client answered, and returns the client's result. XAER_RMERR when rmid
// has no worker.
int dtc_xa_close(char* xa_info, int rmid, long flags);
// Set xid->bqual_length to 32, then run the client's entry on rmid's worker.
// XAER_RMERR for a null xid (nothing written) or an rmid without a worker.
int dtc_xa_start(XID* xid, int rmid, long flags);
int dtc_xa_end(XID* xid, int rmid, long flags);
int dtc_xa_rollback(XID* xid, int rmid, long flags);
int dtc_xa_prepare(XID* xid, int rmid, long flags);
int dtc_xa_commit(XID* xid, int rmid, long flags);
int dtc_xa_forget(XID* xid, int rmid, long flags);
// Run the client's entry on rmid's worker; XAER_RMERR without a worker.
int dtc_xa_recover(XID* xids, long count, int rmid, long flags);
int dtc_xa_complete(int* handle, int* retval, int rmid, long flags);

}  // namespace zp

#endif  // ZP_XA_DTC_SWITCH_H
