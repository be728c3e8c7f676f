// The switch `xaosw` and the handle accessors. Each connection belongs to the
// thread that opened it (one per thread and rmid); it holds at most one
// unfinished branch and its state, which decides what each XA call may do
// before the database is asked. Nothing thrown inside escapes an entry.
#include "tools/sqlxa/sqlxa.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/sqlxa/backend.h"
#include "tools/sqlxa/open_info.h"
#include "tools/sqlxa/xid_text.h"

#define SQLXA_EXPORT __attribute__((visibility("default")))

namespace zp {
namespace sqlxa {
namespace {

enum class BranchState { kNone, kActive, kSuspended, kIdle, kRollbackOnly };

struct Connection;

// What xaoEnv hands out: its address identifies the connection.
struct Environment {
  Connection* connection;
};

struct Connection {
  int rmid = 0;
  long thread = 0;
  OpenInfo info;  // what its open string asked for
  std::string db;
  std::unique_ptr<Backend> backend;
  BranchState state = BranchState::kNone;
  XID xid{};
  std::vector<XID> scan;  // xa_recover's list and position
  size_t scan_position = 0;
  bool scanning = false;
  Environment environment{this};

  bool owns(const XID& other) const { return state != BranchState::kNone && xid_equal(xid, other); }
};

// Process-wide; made at first use and never destroyed, so that no thread
// still inside an entry finds it gone at process exit. The lock guards the
// list only: a connection is used by its own thread without it.
struct Registry {
  std::mutex lock;
  std::vector<Connection*> connections;
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

long current_thread() { return static_cast<long>(syscall(SYS_gettid)); }

Connection* find_connection(int rmid) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  long thread = current_thread();
  for (Connection* c : r.connections) {
    if (c->rmid == rmid && c->thread == thread) return c;
  }
  return nullptr;
}

// Takes c out of the list and closes it; closing the session rolls back a
// branch that was not prepared.
void remove_connection(Connection* c) {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (size_t i = 0; i < r.connections.size(); ++i) {
      if (r.connections[i] == c) r.connections.erase(r.connections.begin() + static_cast<long>(i));
    }
  }
  delete c;
}

void report(const char* operation, int rmid, const std::string& message) {
  std::fprintf(stderr, "sqlxa: %s(rmid %d): %s\n", operation, rmid, message.c_str());
}

// Runs an entry's body; anything thrown becomes XAER_RMERR and one line.
template <typename Body>
int guarded(const char* operation, int rmid, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    report(operation, rmid, std::string("internal failure: ") + e.what());
  } catch (...) {
    report(operation, rmid, "internal failure");
  }
  return XAER_RMERR;
}

// The connection of rmid on this thread for a call about xid: XAER_INVAL for
// a missing or malformed xid, XAER_PROTO when rmid is not open here,
// XAER_RMFAIL once its server is lost.
int lookup(int rmid, const XID* xid, Connection** connection) {
  if (xid == nullptr || !xid_is_valid(*xid)) return XAER_INVAL;
  *connection = find_connection(rmid);
  if (*connection == nullptr) return XAER_PROTO;
  if ((*connection)->backend->lost()) return XAER_RMFAIL;
  return XA_OK;
}

// The connection's branch is prepared, committed or rolled back (or its
// session lost): the connection holds no branch any more.
void forget_branch(Connection* c) { c->state = BranchState::kNone; }

// A prepared branch that is not this connection's open one: whether the
// database knows it, for the codes of calls that need an unprepared branch.
int unknown_or_prepared(Connection* c, const XID& xid) {
  std::vector<XID> prepared;
  int code = c->backend->list_prepared(&prepared);
  if (code != XA_OK) return code;
  for (const XID& p : prepared) {
    if (xid_equal(p, xid)) return XAER_PROTO;
  }
  return XAER_NOTA;
}

int sqlxa_open(char* xa_info, int rmid, long flags) {
  if (xa_info == nullptr || flags != TMNOFLAGS) return XAER_INVAL;
  OpenInfo info;
  Target target;
  std::string error;
  if (!parse_open_info(xa_info, &info, &error)) {
    report("xa_open", rmid, error);
    return XAER_INVAL;
  }
  if (Connection* open = find_connection(rmid)) {
    // Another open string would silently keep the first one's connection.
    if (!same_open_info(open->info, info)) {
      report("xa_open", rmid, "the rmid is open on this thread with another open string");
      return XAER_INVAL;
    }
    if (!open->backend->lost()) return XA_OK;  // already open on this thread
    remove_connection(open);                   // its server is gone: connect anew
  }
  if (!find_connection(info.sqlnet, &target, &error)) {
    report("xa_open", rmid, error);
    return XAER_INVAL;
  }
  if (!info.password.empty()) target.secrets.push_back(info.password);
  int code = XAER_RMERR;
  std::unique_ptr<Backend> backend = target.kind == DatabaseKind::kPostgres
                                         ? open_postgres(target, info, &code, &error)
                                         : open_mariadb(target, info, &code, &error);
  if (backend == nullptr) {
    // The servers' and client libraries' messages may quote what the URI holds.
    report("xa_open", rmid, without_secrets(error, target.secrets));
    return code;
  }
  auto connection = std::make_unique<Connection>();
  connection->rmid = rmid;
  connection->thread = current_thread();
  connection->info = info;
  connection->db = info.db;
  connection->backend = std::move(backend);
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  r.connections.push_back(connection.release());
  return XA_OK;
}

int sqlxa_close(char*, int rmid, long flags) {
  if (flags != TMNOFLAGS) return XAER_INVAL;
  Connection* c = find_connection(rmid);
  if (c == nullptr) return XA_OK;
  if (c->state == BranchState::kActive && !c->backend->lost()) return XAER_PROTO;
  remove_connection(c);
  return XA_OK;
}

int sqlxa_start(XID* xid, int rmid, long flags) {
  const long known = TMJOIN | TMRESUME | TMNOWAIT;
  if ((flags & ~known) != 0 || (flags & TMJOIN && flags & TMRESUME)) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  if (code != XA_OK) return code;
  if (flags & (TMJOIN | TMRESUME)) {
    if (!c->owns(*xid)) return XAER_NOTA;
    if (flags & TMRESUME) {
      if (c->state != BranchState::kSuspended) return XAER_PROTO;
    } else if (c->state == BranchState::kRollbackOnly) {
      return XA_RBROLLBACK;
    } else if (c->state != BranchState::kIdle) {
      return XAER_PROTO;
    }
    c->state = BranchState::kActive;
    return XA_OK;
  }
  if (c->owns(*xid)) return XAER_DUPID;
  // One unfinished branch per connection: the database session holds it.
  if (c->state != BranchState::kNone) return XAER_PROTO;
  code = c->backend->begin(*xid);
  if (code == XA_OK) {
    c->xid = *xid;
    c->state = BranchState::kActive;
  }
  return code;
}

int sqlxa_end(XID* xid, int rmid, long flags) {
  if (flags != TMSUCCESS && flags != TMFAIL && flags != TMSUSPEND) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  if (code != XA_OK) return code;
  if (!c->owns(*xid)) return XAER_NOTA;
  if (c->state != BranchState::kActive &&
      !(c->state == BranchState::kSuspended && flags != TMSUSPEND)) {
    return XAER_PROTO;
  }
  c->state = flags == TMSUSPEND ? BranchState::kSuspended
             : flags == TMFAIL  ? BranchState::kRollbackOnly
                                : BranchState::kIdle;
  return XA_OK;
}

// Prepare and one-phase commit of this connection's ended branch.
int finish_open_branch(Connection* c, bool prepare) {
  if (c->state == BranchState::kActive || c->state == BranchState::kSuspended) return XAER_PROTO;
  int code = XA_OK;
  if (c->state == BranchState::kRollbackOnly) {
    code = c->backend->rollback_open(c->xid);
    if (code == XA_OK) code = XA_RBROLLBACK;
  } else {
    code = prepare ? c->backend->prepare(c->xid) : c->backend->commit_one_phase(c->xid);
  }
  forget_branch(c);
  return code;
}

int sqlxa_prepare(XID* xid, int rmid, long flags) {
  if (flags != TMNOFLAGS) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  if (code != XA_OK) return code;
  if (c->owns(*xid)) return finish_open_branch(c, true);
  return unknown_or_prepared(c, *xid);
}

int sqlxa_commit(XID* xid, int rmid, long flags) {
  if ((flags & ~(TMONEPHASE | TMNOWAIT)) != 0) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  if (code != XA_OK) return code;
  if (flags & TMONEPHASE) {
    if (c->owns(*xid)) return finish_open_branch(c, false);
    return unknown_or_prepared(c, *xid);
  }
  if (c->owns(*xid)) return XAER_PROTO;  // not prepared
  if (c->state != BranchState::kNone) return XAER_PROTO;
  return c->backend->commit_prepared(*xid);
}

int sqlxa_rollback(XID* xid, int rmid, long flags) {
  if (flags != TMNOFLAGS) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  if (code != XA_OK) return code;
  if (c->owns(*xid)) {
    if (c->state == BranchState::kActive) return XAER_PROTO;
    code = c->backend->rollback_open(c->xid);
    forget_branch(c);
    return code;
  }
  if (c->state != BranchState::kNone) return XAER_PROTO;
  return c->backend->rollback_prepared(*xid);
}

int sqlxa_recover(XID* xids, long count, int rmid, long flags) {
  if (count < 0 || (xids == nullptr && count > 0) || (flags & ~(TMSTARTRSCAN | TMENDRSCAN)) != 0) {
    return XAER_INVAL;
  }
  Connection* c = find_connection(rmid);
  if (c == nullptr) return XAER_PROTO;
  if (c->backend->lost()) return XAER_RMFAIL;
  if (flags & TMSTARTRSCAN) {
    c->scanning = false;
    int code = c->backend->list_prepared(&c->scan);
    if (code != XA_OK) return code;
    c->scan_position = 0;
    c->scanning = true;
  } else if (!c->scanning) {
    return XAER_INVAL;
  }
  long written = 0;
  while (written < count && c->scan_position < c->scan.size()) {
    xids[written++] = c->scan[c->scan_position++];
  }
  if (flags & TMENDRSCAN) {
    c->scanning = false;
    c->scan.clear();
  }
  return static_cast<int>(written);
}

int sqlxa_forget(XID* xid, int rmid, long flags) {
  if (flags != TMNOFLAGS) return XAER_INVAL;
  Connection* c = nullptr;
  int code = lookup(rmid, xid, &c);
  // Branches are never completed heuristically, so none is left to forget.
  return code != XA_OK ? code : XAER_NOTA;
}

int sqlxa_complete(int* handle, int* retval, int, long) {
  // Nothing runs asynchronously, so nothing is ever left to complete.
  return handle == nullptr || retval == nullptr ? XAER_INVAL : XAER_PROTO;
}

// Which XA_RB* codes an entry may return: prepare, one-phase commit,
// rollback, end and join; two-phase commit never rolls back.
int within_xa(int code, bool rollback_allowed) {
  if (code >= XA_RBBASE && code <= XA_RBEND && !rollback_allowed) return XAER_RMERR;
  return code;
}

// The calling thread's connection for a handle accessor, or null.
Connection* connection_for(const char* dbname) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  long thread = current_thread();
  std::string extended;
  if (dbname != nullptr) extended = dbname + std::to_string(getpid()) + std::to_string(thread);
  Connection* found = nullptr;
  for (Connection* c : r.connections) {
    if (c->thread != thread) continue;
    if (dbname != nullptr && c->db != dbname && c->db != extended) continue;
    if (found != nullptr) return nullptr;  // several candidates
    found = c;
  }
  return found;
}

}  // namespace
}  // namespace sqlxa
}  // namespace zp

using namespace zp::sqlxa;

extern "C" {

static int xa_open_entry(char* info, int rmid, long flags) {
  return guarded("xa_open", rmid, [&] { return sqlxa_open(info, rmid, flags); });
}
static int xa_close_entry(char* info, int rmid, long flags) {
  return guarded("xa_close", rmid, [&] { return sqlxa_close(info, rmid, flags); });
}
static int xa_start_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_start", rmid,
                 [&] { return within_xa(sqlxa_start(xid, rmid, flags), flags & TMJOIN); });
}
static int xa_end_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_end", rmid, [&] { return within_xa(sqlxa_end(xid, rmid, flags), true); });
}
static int xa_rollback_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_rollback", rmid,
                 [&] { return within_xa(sqlxa_rollback(xid, rmid, flags), true); });
}
static int xa_prepare_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_prepare", rmid,
                 [&] { return within_xa(sqlxa_prepare(xid, rmid, flags), true); });
}
static int xa_commit_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_commit", rmid, [&] {
    return within_xa(sqlxa_commit(xid, rmid, flags), (flags & TMONEPHASE) != 0);
  });
}
static int xa_recover_entry(XID* xids, long count, int rmid, long flags) {
  return guarded("xa_recover", rmid, [&] { return sqlxa_recover(xids, count, rmid, flags); });
}
static int xa_forget_entry(XID* xid, int rmid, long flags) {
  return guarded("xa_forget", rmid, [&] { return sqlxa_forget(xid, rmid, flags); });
}
static int xa_complete_entry(int* handle, int* retval, int rmid, long flags) {
  return guarded("xa_complete", rmid, [&] { return sqlxa_complete(handle, retval, rmid, flags); });
}

SQLXA_EXPORT struct xa_switch_t xaosw = {
    "sqlxa",           TMNOMIGRATE,       0,
    xa_open_entry,     xa_close_entry,    xa_start_entry,
    xa_end_entry,      xa_rollback_entry, xa_prepare_entry,
    xa_commit_entry,   xa_recover_entry,  xa_forget_entry,
    xa_complete_entry,
};

SQLXA_EXPORT void* xaoSvcCtx(char* dbname) {
  try {
    Connection* c = connection_for(dbname);
    return c == nullptr ? nullptr : c->backend->native();
  } catch (...) {
    return nullptr;
  }
}

SQLXA_EXPORT void* xaoEnv(char* dbname) {
  try {
    Connection* c = connection_for(dbname);
    return c == nullptr ? nullptr : &c->environment;
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
