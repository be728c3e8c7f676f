/* The reference resource manager: a client XA library that keeps transaction
 * branches in memory and prepared branches in a journal file. It stands in for
 * a database client so that the module, the driver and the demo run without a
 * database. Besides `xaosw`, `xaoEnv` and `xaoSvcCtx` it exports the calls
 * below, which an application (or the driver) finds by name. */
#ifndef ZP_TOOLS_REFRM_REFRM_H
#define ZP_TOOLS_REFRM_REFRM_H

#include <stdint.h>

#include "zpor8dtc23/xa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Branch states as refrm_branch_state reports them. */
#define REFRM_NONE 0          /* unknown to the resource manager, or finished */
#define REFRM_ACTIVE 1        /* started (or joined, resumed) and associated */
#define REFRM_SUSPENDED 2     /* ended with TMSUSPEND */
#define REFRM_IDLE 3          /* ended with TMSUCCESS */
#define REFRM_ROLLBACK_ONLY 4 /* ended with TMFAIL */
#define REFRM_PREPARED 5      /* prepared and journalled */

/* Environment variable naming the journal folder. */
#define REFRM_JOURNAL_DIR_VARIABLE "ZP_REFRM_JOURNAL_DIR"

/* One unit of work on the connection that svc_ctx (from xaoSvcCtx) identifies,
 * inside the branch that connection has active. Returns XA_OK; XAER_PROTO when
 * the connection is closed or has no active branch; XAER_INVAL when svc_ctx is
 * not a service context of this library. statement is only counted. */
int refrm_work(void* svc_ctx, const char* statement);

/* Which connection a handle from xaoEnv or xaoSvcCtx belongs to: its rmid and
 * the thread that opened it. Returns XA_OK, or XAER_INVAL for a pointer that
 * is not such a handle. */
int refrm_handle_info(void* handle, int* rmid, uint32_t* thread_id);

/* The operating-system id of the thread on which the latest XA call for rmid
 * ran; 0 when rmid has seen no call. */
uint32_t refrm_call_thread(int rmid);

/* The state of the branch xid in the database that rmid is connected to
 * (REFRM_NONE when rmid is not open or the branch is unknown). */
int refrm_branch_state(int rmid, const XID* xid);

#ifdef __cplusplus
}
#endif

#endif /* ZP_TOOLS_REFRM_REFRM_H */
