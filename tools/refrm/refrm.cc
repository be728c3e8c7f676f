// The reference resource manager's XA switch `xaosw` and its exports. Every
// entry takes one process-wide lock: connections (one per rmid), databases
// (one per "+SqlNet" value, each with its branches and journal file) and the
// latest call thread of each rmid live behind it.
#include "tools/refrm/refrm.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/refrm/journal.h"
#include "tools/refrm/open_info.h"

#ifdef _WIN32
#define REFRM_EXPORT __declspec(dllexport)
#else
#define REFRM_EXPORT __attribute__((visibility("default")))
#endif

namespace zp {
namespace refrm {
namespace {

struct Branch {
  XID xid;
  int state = REFRM_NONE;
  bool didWork = false;
  int rmid = 0;  // the connection it is associated with while active
};

struct Database {
  std::string journal;
  std::map<std::string, Branch> branches;
};

struct Connection;

// What xaoEnv and xaoSvcCtx hand out: the address identifies the connection.
struct Handle {
  Connection* connection;
};

struct Connection {
  int rmid = 0;
  bool open = false;
  OpenInfo info;
  Database* database = nullptr;
  std::string current;  // key of the branch this connection has active
  uint32_t openThread = 0;
  Handle environment{this};
  Handle serviceContext{this};
  std::vector<XID> scan;  // xa_recover's snapshot and position
  size_t scanPosition = 0;
  bool scanning = false;
};

// Process-wide state. Made at load and never destroyed: handles stay valid
// for the life of the process, and nothing is freed while a thread may still
// be inside an entry.
struct Registry {
  Registry() { platform::lockInit(&lock); }
  platform::LockStorage lock;
  std::map<int, Connection*> connections;
  std::map<std::string, Database*> databases;
  std::map<int, uint32_t> callThreads;
};

Registry* const gRegistry = new Registry();

class Locked {
 public:
  Locked() { platform::lockEnter(&gRegistry->lock); }
  ~Locked() { platform::lockLeave(&gRegistry->lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// Notes the calling thread for rmid and returns its open connection or null.
Connection* enter(int rmid) {
  gRegistry->callThreads[rmid] = platform::currentThreadId();
  auto found = gRegistry->connections.find(rmid);
  return found != gRegistry->connections.end() && found->second->open ? found->second : nullptr;
}

Database* databaseFor(const std::string& name, const std::string& folder) {
  Database*& database = gRegistry->databases[name];
  if (database == nullptr) {
    database = new Database();
    database->journal = journalFile(folder, name);
  }
  return database;
}

// Brings the in-doubt branches of the journal into memory as prepared ones.
void loadJournal(Database* database) {
  for (const XID& xid : journalPending(database->journal)) {
    Branch& branch = database->branches[xidKey(xid)];
    if (branch.state == REFRM_NONE) {
      branch.xid = xid;
      branch.state = REFRM_PREPARED;
      branch.didWork = true;
    }
  }
}

// The common start of the entries that name a branch: notes the calling
// thread, then finds the rmid's connection and the branch of xid. Returns the
// branch, or null with *result set: XAER_INVAL for bad flags or a bad XID,
// XAER_PROTO when the rmid is not open, XAER_NOTA for an unknown branch (then
// *connection is set). REQUIRES: the lock is held.
Branch* lookUp(int rmid, const XID* xid, bool flagsValid, Connection** connection, int* result) {
  *connection = enter(rmid);
  *result = XA_OK;
  if (!flagsValid || xid == nullptr || !xidIsValid(*xid)) {
    *result = XAER_INVAL;
  } else if (*connection == nullptr) {
    *result = XAER_PROTO;
  } else {
    auto found = (*connection)->database->branches.find(xidKey(*xid));
    if (found != (*connection)->database->branches.end()) return &found->second;
    *result = XAER_NOTA;
  }
  return nullptr;
}

// Ends a branch for good; a prepared one is marked finished in the journal.
int finish(Connection* connection, Branch* branch, int result) {
  if (branch->state == REFRM_PREPARED &&
      !journalAppend(connection->database->journal, branch->xid, false))
    return XAER_RMERR;
  connection->database->branches.erase(xidKey(branch->xid));
  return result;
}

Connection* connectionOfHandle(void* handle) {
  for (auto& entry : gRegistry->connections) {
    Connection* connection = entry.second;
    if (handle == &connection->environment || handle == &connection->serviceContext)
      return connection;
  }
  return nullptr;
}

void* handleFor(const char* dbName, bool serviceContext) {
  const std::string wanted = dbName == nullptr ? "" : dbName;
  Locked locked;
  for (auto& entry : gRegistry->connections) {
    Connection* connection = entry.second;
    if (connection->open && connection->info.dbName == wanted)
      return serviceContext ? &connection->serviceContext : &connection->environment;
  }
  return nullptr;
}

int refrmOpen(char* xaInfo, int rmid, long flags) {
  Locked locked;
  Connection* connection = enter(rmid);
  if (flags != TMNOFLAGS) return XAER_INVAL;
  OpenInfo info;
  std::string reason;
  if (!parseOpenInfo(xaInfo, &info, &reason)) return XAER_INVAL;
  if (connection != nullptr) {
    // A second open of an open rmid is allowed as long as it names the same thing.
    return connection->info.database == info.database && connection->info.dbName == info.dbName
               ? XA_OK
               : XAER_PROTO;
  }
  std::string folder;
  if (!journalFolder(&folder)) return XAER_RMERR;
  Connection*& slot = gRegistry->connections[rmid];
  if (slot == nullptr) slot = new Connection();
  connection = slot;
  connection->rmid = rmid;
  connection->info = info;
  connection->database = databaseFor(info.database, folder);
  connection->current.clear();
  connection->openThread = platform::currentThreadId();
  connection->scanning = false;
  connection->open = true;
  loadJournal(connection->database);
  return XA_OK;
}

int refrmClose(char*, int rmid, long flags) {
  Locked locked;
  Connection* connection = enter(rmid);
  if (flags != TMNOFLAGS) return XAER_INVAL;
  if (connection == nullptr) return XA_OK;
  if (!connection->current.empty()) return XAER_PROTO;
  connection->open = false;
  return XA_OK;
}

int refrmStart(XID* xid, int rmid, long flags) {
  Locked locked;
  const long mode = flags & ~TMNOWAIT;
  Connection* connection = nullptr;
  int result = XA_OK;
  Branch* branch = lookUp(rmid, xid, mode == TMNOFLAGS || mode == TMJOIN || mode == TMRESUME,
                          &connection, &result);
  if (result != XA_OK && result != XAER_NOTA) return result;
  if (!connection->current.empty()) return XAER_PROTO;
  if (mode == TMNOFLAGS) {
    if (branch != nullptr) return XAER_DUPID;
    Branch& made = connection->database->branches[xidKey(*xid)];
    made.xid = *xid;
    branch = &made;
  } else if (branch == nullptr) {
    return XAER_NOTA;
  } else if (mode == TMJOIN && branch->state == REFRM_ROLLBACK_ONLY) {
    return XA_RBROLLBACK;
  } else if (branch->state != (mode == TMJOIN ? REFRM_IDLE : REFRM_SUSPENDED)) {
    return XAER_PROTO;
  }
  branch->state = REFRM_ACTIVE;
  branch->rmid = rmid;
  connection->current = xidKey(*xid);
  return XA_OK;
}

int refrmEnd(XID* xid, int rmid, long flags) {
  Locked locked;
  Connection* connection = nullptr;
  int result = XA_OK;
  Branch* branch = lookUp(rmid, xid, flags == TMSUCCESS || flags == TMSUSPEND || flags == TMFAIL,
                          &connection, &result);
  if (branch == nullptr) return result;
  const bool associatedHere = branch->state == REFRM_ACTIVE && branch->rmid == rmid;
  const bool suspended = branch->state == REFRM_SUSPENDED;
  if (!associatedHere && !(suspended && flags != TMSUSPEND)) return XAER_PROTO;
  if (associatedHere) connection->current.clear();
  if (flags == TMFAIL) {
    branch->state = REFRM_ROLLBACK_ONLY;
    return XA_RBROLLBACK;
  }
  branch->state = flags == TMSUSPEND ? REFRM_SUSPENDED : REFRM_IDLE;
  return XA_OK;
}

int refrmPrepare(XID* xid, int rmid, long flags) {
  Locked locked;
  Connection* connection = nullptr;
  int result = XA_OK;
  Branch* branch = lookUp(rmid, xid, flags == TMNOFLAGS, &connection, &result);
  if (branch == nullptr) return result;
  if (branch->state == REFRM_ROLLBACK_ONLY) return finish(connection, branch, XA_RBROLLBACK);
  if (branch->state != REFRM_IDLE) return XAER_PROTO;
  if (!branch->didWork) return finish(connection, branch, XA_RDONLY);
  if (!journalAppend(connection->database->journal, branch->xid, true)) return XAER_RMERR;
  branch->state = REFRM_PREPARED;
  return XA_OK;
}

int refrmCommit(XID* xid, int rmid, long flags) {
  Locked locked;
  const long mode = flags & ~TMNOWAIT;
  Connection* connection = nullptr;
  int result = XA_OK;
  Branch* branch = lookUp(rmid, xid, mode == TMNOFLAGS || mode == TMONEPHASE, &connection, &result);
  if (branch == nullptr) return result;
  if (mode == TMONEPHASE) {
    if (branch->state == REFRM_ROLLBACK_ONLY) return finish(connection, branch, XA_RBROLLBACK);
    return branch->state == REFRM_IDLE ? finish(connection, branch, XA_OK) : XAER_PROTO;
  }
  return branch->state == REFRM_PREPARED ? finish(connection, branch, XA_OK) : XAER_PROTO;
}

int refrmRollback(XID* xid, int rmid, long flags) {
  Locked locked;
  Connection* connection = nullptr;
  int result = XA_OK;
  Branch* branch = lookUp(rmid, xid, flags == TMNOFLAGS, &connection, &result);
  if (branch == nullptr) return result;
  if (branch->state == REFRM_ACTIVE) return XAER_PROTO;
  return finish(connection, branch, XA_OK);
}

int refrmRecover(XID* xids, long count, int rmid, long flags) {
  Locked locked;
  Connection* connection = enter(rmid);
  if (connection == nullptr) return XAER_PROTO;
  if ((flags & ~(TMSTARTRSCAN | TMENDRSCAN)) != 0 || count < 0 || (xids == nullptr && count > 0))
    return XAER_INVAL;
  if (flags & TMSTARTRSCAN) {
    // Another process may have prepared or finished branches since the open.
    loadJournal(connection->database);
    connection->scan.clear();
    for (const XID& xid : journalPending(connection->database->journal))
      connection->scan.push_back(xid);
    connection->scanPosition = 0;
    connection->scanning = true;
  } else if (!connection->scanning) {
    return XAER_INVAL;
  }
  long given = 0;
  while (given < count && connection->scanPosition < connection->scan.size())
    xids[given++] = connection->scan[connection->scanPosition++];
  if (flags & TMENDRSCAN) connection->scanning = false;
  return static_cast<int>(given);
}

int refrmForget(XID* xid, int rmid, long flags) {
  Locked locked;
  Connection* connection = nullptr;
  int result = XA_OK;
  // No branch is ever completed heuristically, so there is nothing to forget.
  return lookUp(rmid, xid, flags == TMNOFLAGS, &connection, &result) == nullptr ? result
                                                                                : XAER_PROTO;
}

int refrmComplete(int*, int*, int rmid, long) {
  Locked locked;
  enter(rmid);
  // No call is ever asynchronous, so none is outstanding.
  return XAER_PROTO;
}

}  // namespace
}  // namespace refrm
}  // namespace zp

using namespace zp::refrm;

extern "C" {

REFRM_EXPORT xa_switch_t xaosw = {
    "Reference RM", TMNOFLAGS,    0,           refrmOpen,    refrmClose,  refrmStart,   refrmEnd,
    refrmRollback,  refrmPrepare, refrmCommit, refrmRecover, refrmForget, refrmComplete};

REFRM_EXPORT void* xaoEnv(char* dbname) { return handleFor(dbname, false); }

REFRM_EXPORT void* xaoSvcCtx(char* dbname) { return handleFor(dbname, true); }

REFRM_EXPORT int refrm_work(void* svc_ctx, const char*) {
  Locked locked;
  Connection* connection = connectionOfHandle(svc_ctx);
  if (connection == nullptr || svc_ctx != &connection->serviceContext) return XAER_INVAL;
  gRegistry->callThreads[connection->rmid] = zp::platform::currentThreadId();
  if (!connection->open || connection->current.empty()) return XAER_PROTO;
  connection->database->branches[connection->current].didWork = true;
  return XA_OK;
}

REFRM_EXPORT int refrm_handle_info(void* handle, int* rmid, uint32_t* thread_id) {
  Locked locked;
  Connection* connection = connectionOfHandle(handle);
  if (connection == nullptr) return XAER_INVAL;
  if (rmid != nullptr) *rmid = connection->rmid;
  if (thread_id != nullptr) *thread_id = connection->openThread;
  return XA_OK;
}

REFRM_EXPORT uint32_t refrm_call_thread(int rmid) {
  Locked locked;
  auto found = gRegistry->callThreads.find(rmid);
  return found == gRegistry->callThreads.end() ? 0 : found->second;
}

REFRM_EXPORT int refrm_branch_state(int rmid, const XID* xid) {
  Locked locked;
  auto found = gRegistry->connections.find(rmid);
  if (found == gRegistry->connections.end() || !found->second->open || xid == nullptr ||
      !xidIsValid(*xid))
    return REFRM_NONE;
  const auto& branches = found->second->database->branches;
  auto branch = branches.find(xidKey(*xid));
  return branch == branches.end() ? REFRM_NONE : branch->second.state;
}

}  // extern "C"
