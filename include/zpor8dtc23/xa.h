/* The X/Open XA records the module exchanges with a transaction manager and
 * with the client XA library: the switch record, the transaction identifier,
 * the flag bits and the result codes, in the standard's layout. `long` is the
 * platform's own long, as every XA transaction manager on it declares it.
 * Usable from C and C++. */
#ifndef ZPOR8DTC23_XA_H
#define ZPOR8DTC23_XA_H

#define RMNAMESZ 32     /* length of a resource manager name, terminator included */
#define MAXINFOSIZE 256 /* length of an open or close string, terminator included */
#define XIDDATASIZE 128 /* size of XID.data */
#define MAXGTRIDSIZE 64
#define MAXBQUALSIZE 64

struct xid_t {
  long formatID;     /* format identifier; -1 means the XID is null */
  long gtrid_length; /* bytes of the global transaction identifier, 1 to 64 */
  long bqual_length; /* bytes of the branch qualifier, 1 to 64 */
  char data[XIDDATASIZE];
};
typedef struct xid_t XID;

struct xa_switch_t {
  char name[RMNAMESZ];
  long flags;
  long version;
  int (*xa_open_entry)(char* xa_info, int rmid, long flags);
  int (*xa_close_entry)(char* xa_info, int rmid, long flags);
  int (*xa_start_entry)(XID* xid, int rmid, long flags);
  int (*xa_end_entry)(XID* xid, int rmid, long flags);
  int (*xa_rollback_entry)(XID* xid, int rmid, long flags);
  int (*xa_prepare_entry)(XID* xid, int rmid, long flags);
  int (*xa_commit_entry)(XID* xid, int rmid, long flags);
  int (*xa_recover_entry)(XID* xids, long count, int rmid, long flags);
  int (*xa_forget_entry)(XID* xid, int rmid, long flags);
  int (*xa_complete_entry)(int* handle, int* retval, int rmid, long flags);
};

/* Flags of xa_switch_t.flags. */
#define TMNOFLAGS 0x00000000L
#define TMREGISTER 0x00000001L
#define TMNOMIGRATE 0x00000002L
#define TMUSEASYNC 0x00000004L

/* Flags of the XA calls. */
#define TMASYNC 0x80000000L
#define TMONEPHASE 0x40000000L
#define TMFAIL 0x20000000L
#define TMNOWAIT 0x10000000L
#define TMRESUME 0x08000000L
#define TMSUCCESS 0x04000000L
#define TMSUSPEND 0x02000000L
#define TMSTARTRSCAN 0x01000000L
#define TMENDRSCAN 0x00800000L
#define TMMULTIPLE 0x00400000L
#define TMJOIN 0x00200000L
#define TMMIGRATE 0x00100000L

/* Result codes. */
#define XA_RBBASE 100
#define XA_RBROLLBACK XA_RBBASE
#define XA_RBCOMMFAIL (XA_RBBASE + 1)
#define XA_RBDEADLOCK (XA_RBBASE + 2)
#define XA_RBINTEGRITY (XA_RBBASE + 3)
#define XA_RBOTHER (XA_RBBASE + 4)
#define XA_RBPROTO (XA_RBBASE + 5)
#define XA_RBTIMEOUT (XA_RBBASE + 6)
#define XA_RBTRANSIENT (XA_RBBASE + 7)
#define XA_RBEND XA_RBTRANSIENT
#define XA_NOMIGRATE 9
#define XA_HEURHAZ 8
#define XA_HEURCOM 7
#define XA_HEURRB 6
#define XA_HEURMIX 5
#define XA_RETRY 4
#define XA_RDONLY 3
#define XA_OK 0
#define XAER_ASYNC (-2)
#define XAER_RMERR (-3)
#define XAER_NOTA (-4)
#define XAER_INVAL (-5)
#define XAER_PROTO (-6)
#define XAER_RMFAIL (-7)
#define XAER_DUPID (-8)
#define XAER_OUTSIDE (-9)

#endif /* ZPOR8DTC23_XA_H */
