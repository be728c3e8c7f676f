// The switch that MQStart hands out: ten wrappers that forward every call to
// the client's switch on the caller's own thread, described by trace records
// while tracing is on. Each wrapper's name is the function name its records
// carry.
#ifndef ZP_XA_MQ_SWITCH_H
#define ZP_XA_MQ_SWITCH_H

#include "zpor8dtc23/xa.h"

namespace zp {

// Rewrites the "+DB=" value and filters xa_info (null is taken as ""), starts
// tracing while the trace level is 2, loads the client library and calls its
// xa_open with the filtered string. XAER_RMERR when a buffer cannot be had,
// the rewritten string does not fit kOpenBufferSize, or no client switch can
// be loaded.
int or8_mq_xa_open(char* xa_info, int rmid, long flags);
// Forwards to the client; "This_is_close_string" replaces xa_info while the
// close-string flag is set, and a null xa_info is passed as "".
int or8_mq_xa_close(char* xa_info, int rmid, long flags);
// These forward their arguments unchanged. Each returns the client's result,
// or XAER_RMERR without calling anything when no client switch is held.
int or8_mq_xa_start(XID* xid, int rmid, long flags);
int or8_mq_xa_end(XID* xid, int rmid, long flags);
int or8_mq_xa_rollback(XID* xid, int rmid, long flags);
int or8_mq_xa_prepare(XID* xid, int rmid, long flags);
int or8_mq_xa_commit(XID* xid, int rmid, long flags);
int or8_mq_xa_recover(XID* xids, long count, int rmid, long flags);
int or8_mq_xa_forget(XID* xid, int rmid, long flags);
int or8_mq_xa_complete(int* handle, int* retval, int rmid, long flags);

}  // namespace zp

#endif  // ZP_XA_MQ_SWITCH_H
