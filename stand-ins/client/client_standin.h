// A stand-in for the Oracle client XA library, for tests. It exports the data
// symbol `xaosw` and the accessors `xaoEnv` / `xaoSvcCtx` (each can be left
// out by a build variant), answers every call with a result a test scripts,
// and records every call (operation, arguments, the string received, the
// calling thread) for the test to read back. A test reaches the control
// functions below by loading the same library by name after the module has.
#ifndef ZP_STAND_INS_CLIENT_CLIENT_STANDIN_H
#define ZP_STAND_INS_CLIENT_CLIENT_STANDIN_H

#include <stdint.h>

#include "zpor8dtc23/xa.h"

enum StandinOperation {
  kStandinOpen = 0,
  kStandinClose,
  kStandinStart,
  kStandinEnd,
  kStandinRollback,
  kStandinPrepare,
  kStandinCommit,
  kStandinRecover,
  kStandinForget,
  kStandinComplete,
  kStandinXaoEnv,
  kStandinXaoSvcCtx,
  kStandinOperationCount
};

// One recorded call.
struct StandinCall {
  int32_t operation;  // StandinOperation
  int32_t rmid;
  int64_t flags;        // the long flags argument (0 for the accessors)
  uint32_t threadId;    // the operating system's id of the calling thread
  const void* pointer;  // xid, xids array or handle as passed
  long formatId;        // of the XID passed (start .. forget), when not null
  long gtridLength;
  long bqualLength;
  int64_t count;   // recover's count
  char text[512];  // open / close string or dbname, as received ("" for null)
  int32_t textWasNull;
};

// The control exports, C linkage, looked up by name.
typedef void (*StandinResetFn)(void);
typedef void (*StandinSetResultFn)(int32_t operation, int32_t result);
typedef int32_t (*StandinCallCountFn)(void);
typedef int32_t (*StandinGetCallFn)(int32_t index,
                                    struct StandinCall* out);  // 0 when index is valid
typedef const char* (*StandinNameFn)(void);                    // which library file this is

// Holding a call in the client: the next call of one operation for one rmid
// waits inside the stand-in until let go, for at most ZP_STANDIN_HOLD_LIMIT_MS
// (it then answers ZP_STANDIN_HOLD_TIMED_OUT, so a test that never lets go
// fails instead of hanging).
typedef void (*StandinHoldFn)(int32_t operation, int32_t rmid);
typedef int32_t (*StandinHeldFn)(void);  // 1 while a held call waits
typedef void (*StandinLetGoFn)(void);
#define ZP_STANDIN_HOLD_LIMIT_MS 10000
#define ZP_STANDIN_HOLD_TIMED_OUT (-77)

// A scripted result that makes calls answer with what they were given, so a
// test can tell every answer from every other: xa_recover its count, the
// entries with one XID its formatID, xa_complete *handle.
#define ZP_STANDIN_ECHO (-1000)

#define ZP_STANDIN_RESET "standin_reset"
#define ZP_STANDIN_SET_RESULT "standin_set_result"
#define ZP_STANDIN_CALL_COUNT "standin_call_count"
#define ZP_STANDIN_GET_CALL "standin_get_call"
#define ZP_STANDIN_NAME "standin_name"
#define ZP_STANDIN_HOLD "standin_hold"
#define ZP_STANDIN_HELD "standin_held"
#define ZP_STANDIN_LET_GO "standin_let_go"

// What xaoEnv and xaoSvcCtx return: the addresses of two objects inside the
// stand-in, told apart by their first byte.
#define ZP_STANDIN_ENV_TAG 'E'
#define ZP_STANDIN_SVCCTX_TAG 'S'

#endif  // ZP_STAND_INS_CLIENT_CLIENT_STANDIN_H
