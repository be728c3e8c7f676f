// A MariaDB connection through libmariadb: XA START/END/PREPARE/COMMIT
// [ONE PHASE]/ROLLBACK with XIDs written as hex literals, XA RECOVER read with
// the fetched lengths. XA END is sent when the branch is next prepared,
// committed or rolled back, so that the library's own suspend and join of a
// branch (kept in sqlxa.cc) need nothing of the server.
//
// A MariaDB session keeps the branch it prepared: it can start no other, and
// no other session can complete it (XA COMMIT and XA ROLLBACK there answer
// "unknown XID" while XA RECOVER lists it), until it disconnects. So a
// prepared branch stays on its session for its own commit or rollback, and is
// let go (the session ended, the MYSQL record, whose address the application
// holds, connected anew) before anything else: before the connection's next
// other call, or when another connection of this process must complete it.
#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/sqlxa/backend.h"
#include "tools/sqlxa/xid_text.h"

namespace zp {
namespace sqlxa {
namespace {

const unsigned long kMinimumVersion = 100502;  // 10.5.2: prepared branches survive a disconnect
constexpr int kSessionEndAttempts = 5000;      // about 5 s, 1 ms apart

// A prepared branch a session of this process holds, for another connection
// that must complete it: it ends the session (which only the session's own
// thread would do otherwise) and says so in released, so that the holder
// connects anew before its next use of the record.
struct Hold {
  const void* holder;
  std::string server;  // host, port and socket of the holder's target
  XID xid;
  unsigned long session;  // the holding session's id on that server
  bool released;
};

struct Holds {
  std::mutex lock;
  std::vector<Hold> list;
};

// Made at first use and never destroyed, as the connections' registry.
Holds& holds() {
  static Holds* instance = new Holds;
  return *instance;
}

bool is_connection_error(unsigned error) {
  return error == CR_SERVER_GONE_ERROR || error == CR_SERVER_LOST || error == CR_CONNECTION_ERROR ||
         error == CR_SERVER_LOST_EXTENDED || error == ER_CONNECTION_KILLED;
}

// Why the server rolled a branch back, from its error number.
int rollback_reason(unsigned error) {
  switch (error) {
    case ER_XA_RBDEADLOCK:
    case ER_LOCK_DEADLOCK:
      return XA_RBDEADLOCK;
    case ER_XA_RBTIMEOUT:
    case ER_LOCK_WAIT_TIMEOUT:
      return XA_RBTIMEOUT;
    case ER_DUP_ENTRY:
    case ER_ROW_IS_REFERENCED_2:
    case ER_NO_REFERENCED_ROW_2:
    case ER_ROW_IS_REFERENCED:
    case ER_NO_REFERENCED_ROW:
      return XA_RBINTEGRITY;
    case ER_XA_RBROLLBACK:
      return XA_RBROLLBACK;
    default:
      return 0;
  }
}

class MyBackend : public Backend {
 public:
  MyBackend(const Target& target, const OpenInfo& info)
      : target_(target),
        info_(info),
        server_(target.host + ":" + std::to_string(target.port) + ":" + target.socket) {}
  // Closing lets a held branch go as any other call does, waiting until the
  // server has let the session go, so that another connection may complete
  // the branch at once.
  ~MyBackend() override {
    settle_prepared();
    take_back();
    if (connected_) mysql_close(connection_);
  }

  // Connects the MYSQL record (again); false with one line in error.
  bool connect(std::string* error) {
    if (connected_) mysql_close(connection_);
    connected_ = false;
    if (mysql_init(connection_) == nullptr) {
      *error = "cannot set up a MariaDB connection";
      return false;
    }
    connected_ = true;
    unsigned connect_timeout = 10;
    // A read or write that waits longer than a lock wait could is a lost server.
    unsigned io_timeout = static_cast<unsigned>(info_.lock_wait > 0 ? info_.lock_wait + 60 : 600);
    mysql_options(connection_, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
    mysql_options(connection_, MYSQL_OPT_READ_TIMEOUT, &io_timeout);
    mysql_options(connection_, MYSQL_OPT_WRITE_TIMEOUT, &io_timeout);
    const std::string& user = info_.user.empty() ? target_.user : info_.user;
    const std::string& password = info_.user.empty() ? target_.password : info_.password;
    if (mysql_real_connect(connection_, target_.host.c_str(), user.c_str(), password.c_str(),
                           target_.database.c_str(), target_.port,
                           target_.socket.empty() ? nullptr : target_.socket.c_str(),
                           0) == nullptr) {
      *error = std::string("cannot connect to MariaDB: ") + mysql_error(connection_);
      return false;
    }
    const char* server = mysql_get_server_info(connection_);
    if (server == nullptr || std::strstr(server, "MariaDB") == nullptr ||
        mysql_get_server_version(connection_) < kMinimumVersion) {
      *error = std::string("the server is '") + (server == nullptr ? "" : server) +
               "'; XA needs MariaDB 10.5.2 or later";
      return false;
    }
    if (info_.lock_wait > 0) {
      std::string seconds = std::to_string(info_.lock_wait);
      if (run("SET SESSION innodb_lock_wait_timeout = " + seconds +
              ", lock_wait_timeout = " + seconds) != 0) {
        *error = "cannot set the lock wait timeouts on MariaDB";
        return false;
      }
    }
    return true;
  }

  void* native() override {
    settle_prepared();
    return connection_;
  }
  bool lost() const override { return lost_; }

  // Runs sql; 0 on success, else the server's (or client's) error number.
  unsigned run(const std::string& sql) {
    if (mysql_real_query(connection_, sql.data(), sql.size()) == 0) {
      // Statements here return no rows but XA RECOVER, which reads its own.
      MYSQL_RES* result = mysql_store_result(connection_);
      if (result != nullptr) mysql_free_result(result);
      return 0;
    }
    unsigned error = mysql_errno(connection_);
    if (is_connection_error(error)) lost_ = true;
    return error == 0 ? CR_UNKNOWN_ERROR : error;
  }

  int begin(const XID& xid) override {
    settle_prepared();
    if (lost_) return XAER_RMFAIL;
    unsigned error = run("XA START " + xid_to_mariadb(xid));
    if (error == 0) return XA_OK;
    if (lost_) return XAER_RMFAIL;
    if (error == ER_XAER_DUPID) return XAER_DUPID;
    if (error == ER_XAER_OUTSIDE) return XAER_OUTSIDE;
    if (error == ER_XAER_RMFAIL) return XAER_PROTO;  // the session is in another XA state
    return XAER_RMERR;
  }

  // XA END before a branch's completion: 0 on success, or the rollback reason
  // when the server had already rolled the branch back (its state is then
  // ROLLBACK ONLY and XA ROLLBACK ends it).
  int end(const XID& xid, unsigned* error) {
    *error = run("XA END " + xid_to_mariadb(xid));
    return *error == 0 ? 0 : rollback_reason(*error);
  }

  // Ends and then prepares or commits in one phase.
  int finish(const XID& xid, const std::string& statement) {
    // The application's last statement on the handle: when the server rolled
    // the branch back for it, XA END only says the branch is rollback-only.
    unsigned last = mysql_errno(connection_);
    unsigned error = 0;
    int reason = end(xid, &error);
    if (error == ER_XAER_RMFAIL) {
      reason = rollback_reason(last);
      if (reason == 0) reason = XA_RBROLLBACK;
    }
    if (error == 0) {
      error = run(statement);
      if (error == 0) return XA_OK;
      reason = rollback_reason(error);
    }
    if (lost_) return XAER_RMFAIL;
    // The branch failed: take it back and say why, when the server says.
    unsigned rollback_error = run("XA ROLLBACK " + xid_to_mariadb(xid));
    if (lost_) return XAER_RMFAIL;
    if (reason != 0) return reason;
    return rollback_error == 0 ? XA_RBOTHER : XAER_RMERR;
  }

  // A prepared branch stays with the session that prepared it until that
  // session ends: the session can commit or roll it back itself, but can
  // start no other branch, and no other session can complete it. So the
  // branch is left on the session, and the usual next call, its own commit
  // or rollback, runs there; any other call first lets the branch go by
  // connecting again (settle_prepared), and so does another connection of
  // this process that must complete it (release_elsewhere).
  int prepare(const XID& xid) override {
    const int code = finish(xid, "XA PREPARE " + xid_to_mariadb(xid));
    if (code == XA_OK) {
      pending_ = xid;
      has_pending_ = true;
      pending_session_ = mysql_thread_id(connection_);
      Holds& h = holds();
      std::lock_guard<std::mutex> hold(h.lock);
      h.list.push_back(Hold{this, server_, xid, pending_session_, false});
    }
    return code;
  }

  // Takes the held branch out of the list before the session is used again:
  // true when another connection has ended the session meanwhile.
  bool take_back() {
    Holds& h = holds();
    std::lock_guard<std::mutex> hold(h.lock);
    for (size_t i = 0; i < h.list.size(); ++i) {
      if (h.list[i].holder != this) continue;
      const bool released = h.list[i].released;
      h.list.erase(h.list.begin() + static_cast<long>(i));
      return released;
    }
    return false;
  }

  // Lets the session's prepared branch go, if it holds one: connects again,
  // and returns once the server has let go of the old session, so that any
  // session may complete the branch.
  void settle_prepared() {
    if (!has_pending_) return;
    has_pending_ = false;
    take_back();
    if (lost_) return;
    std::string error;
    if (!connect(&error)) {
      // The branch is prepared; the next call on this connection says it is lost.
      std::fprintf(stderr, "sqlxa: after xa_prepare: %s\n",
                   without_secrets(error, target_.secrets).c_str());
      lost_ = true;
      return;
    }
    wait_for_session_end(pending_session_);
  }

  // Another session of this process on this server holds xid prepared: ends
  // that session from here (its own thread may be busy elsewhere or idle for
  // long) and waits until the server has let it go. False when no session of
  // this process holds xid.
  bool release_elsewhere(const XID& xid) {
    unsigned long session = 0;
    {
      Holds& h = holds();
      std::lock_guard<std::mutex> hold(h.lock);
      for (Hold& held : h.list) {
        if (held.holder != this && !held.released && held.server == server_ &&
            xid_equal(held.xid, xid)) {
          held.released = true;
          session = held.session;
          break;
        }
      }
    }
    if (session == 0) return false;
    // A session that ended meanwhile answers "unknown thread": no matter.
    // Another user's session may not be ended from here: its holder lets
    // the branch go at its own next call.
    const unsigned error = run("KILL CONNECTION " + std::to_string(session));
    if (lost_ || (error != 0 && error != ER_NO_SUCH_THREAD)) return false;
    wait_for_session_end(session);
    return true;
  }

  bool holds_prepared(const XID& xid) const {
    return has_pending_ && pending_.formatID == xid.formatID &&
           pending_.gtrid_length == xid.gtrid_length && pending_.bqual_length == xid.bqual_length &&
           std::memcmp(pending_.data, xid.data,
                       static_cast<size_t>(xid.gtrid_length + xid.bqual_length)) == 0;
  }

  // The server lets go of a disconnected session's prepared branch some time
  // after the disconnect. An XA COMMIT from another session in between is
  // answered "unknown XID", or answered OK with the branch's transaction left
  // behind, neither committed nor listed by XA RECOVER. So prepare returns only
  // once the session that prepared is gone (asking for about 5 s at most).
  void wait_for_session_end(unsigned long session) {
    const std::string query =
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(session);
    for (int attempt = 0; attempt < kSessionEndAttempts; ++attempt) {
      if (mysql_real_query(connection_, query.data(), query.size()) != 0) return;
      MYSQL_RES* result = mysql_store_result(connection_);
      if (result == nullptr) return;
      MYSQL_ROW row = mysql_fetch_row(result);
      const bool gone = row == nullptr || row[0] == nullptr || std::strcmp(row[0], "0") == 0;
      mysql_free_result(result);
      if (gone) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::fprintf(stderr, "sqlxa: a session holding a prepared branch (%lu) has not ended\n",
                 session);
  }

  int commit_one_phase(const XID& xid) override {
    settle_prepared();
    if (lost_) return XAER_RMFAIL;
    return finish(xid, "XA COMMIT " + xid_to_mariadb(xid) + " ONE PHASE");
  }

  int rollback_open(const XID& xid) override {
    settle_prepared();
    unsigned error = 0;
    end(xid, &error);
    if (lost_) return XAER_RMFAIL;
    error = run("XA ROLLBACK " + xid_to_mariadb(xid));
    return error == 0 ? XA_OK : lost_ ? XAER_RMFAIL : XAER_RMERR;
  }

  // The code of XA COMMIT or XA ROLLBACK of a prepared branch from error.
  int completion_code(unsigned error) const {
    if (error == 0) return XA_OK;
    if (lost_) return XAER_RMFAIL;
    if (error == ER_XAER_NOTA) return XAER_NOTA;
    if (error == ER_XAER_RMFAIL) return XAER_PROTO;
    // A read-only branch whose session ended: the server rolled its empty
    // work back and says so, and forgets the branch. Committed or rolled
    // back, nothing changes: both are done.
    if (error == ER_XA_RBROLLBACK) return XA_OK;
    return XAER_RMERR;
  }

  int commit_prepared(const XID& xid) override { return complete_prepared(true, xid); }
  int rollback_prepared(const XID& xid) override { return complete_prepared(false, xid); }

  // The branch this session prepared is completed here; any other after this
  // session has let its own go, and, when a live session holds it, after
  // that session has let it go too (or, when that session is not this
  // process's, XA_RETRY for a commit and XAER_RMFAIL for a rollback: the
  // branch is prepared and stays so, never "unknown").
  int complete_prepared(bool commit, const XID& xid) {
    const std::string statement = (commit ? "XA COMMIT " : "XA ROLLBACK ") + xid_to_mariadb(xid);
    if (holds_prepared(xid) && !take_back()) {
      const unsigned error = run(statement);
      if (error == 0) {
        has_pending_ = false;
        return XA_OK;
      }
      if (lost_) return XAER_RMFAIL;
      // Otherwise the session lets the branch go and a new one asks again.
    }
    settle_prepared();
    if (lost_) return XAER_RMFAIL;
    unsigned error = run(statement);
    if (error != ER_XAER_NOTA) return completion_code(error);
    int listed = is_listed(xid);
    if (listed <= 0) return listed < 0 ? XAER_RMFAIL : XAER_NOTA;
    if (release_elsewhere(xid)) {
      error = run(statement);
      if (error != ER_XAER_NOTA) return completion_code(error);
      listed = is_listed(xid);
      if (listed <= 0) return listed < 0 ? XAER_RMFAIL : XAER_NOTA;
    }
    return commit ? XA_RETRY : XAER_RMFAIL;
  }

  // Whether XA RECOVER lists xid: 1 or 0, -1 when it cannot be read.
  int is_listed(const XID& xid) {
    std::vector<XID> prepared;
    if (list_prepared(&prepared) != XA_OK) return -1;
    for (const XID& one : prepared) {
      if (xid_equal(one, xid)) return 1;
    }
    return 0;
  }

  int list_prepared(std::vector<XID>* xids) override {
    settle_prepared();
    if (lost_) return XAER_RMFAIL;
    static const char kRecover[] = "XA RECOVER";
    if (mysql_real_query(connection_, kRecover, sizeof kRecover - 1) != 0) {
      if (is_connection_error(mysql_errno(connection_))) lost_ = true;
      return lost_ ? XAER_RMFAIL : XAER_RMERR;
    }
    MYSQL_RES* result = mysql_store_result(connection_);
    if (result == nullptr || mysql_num_fields(result) < 4) {
      if (result != nullptr) mysql_free_result(result);
      if (is_connection_error(mysql_errno(connection_))) lost_ = true;
      return lost_ ? XAER_RMFAIL : XAER_RMERR;
    }
    xids->clear();
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
      unsigned long* lengths = mysql_fetch_lengths(result);
      if (row[0] == nullptr || row[1] == nullptr || row[2] == nullptr || row[3] == nullptr)
        continue;
      XID xid{};
      xid.formatID = std::strtol(row[0], nullptr, 10);
      xid.gtrid_length = std::strtol(row[1], nullptr, 10);
      xid.bqual_length = std::strtol(row[2], nullptr, 10);
      // The data column holds both parts as raw bytes; anything that does not
      // add up is not an XID this library could have written.
      if (!xid_is_valid(xid) ||
          lengths[3] != static_cast<unsigned long>(xid.gtrid_length + xid.bqual_length)) {
        continue;
      }
      std::memcpy(xid.data, row[3], lengths[3]);
      xids->push_back(xid);
    }
    mysql_free_result(result);
    return XA_OK;
  }

 private:
  Target target_;
  OpenInfo info_;
  MYSQL record_{};
  MYSQL* const connection_ = &record_;
  bool connected_ = false;
  bool lost_ = false;
  const std::string server_;
  XID pending_{};  // the branch this session prepared and still holds
  bool has_pending_ = false;
  unsigned long pending_session_ = 0;  // the session that holds it
};

std::once_flag library_once;
bool library_ready = false;

}  // namespace

std::unique_ptr<Backend> open_mariadb(const Target& target, const OpenInfo& info, int* code,
                                      std::string* error) {
  *code = XAER_RMERR;
  std::call_once(library_once,
                 [] { library_ready = mysql_library_init(0, nullptr, nullptr) == 0; });
  if (!library_ready) {
    *error = "cannot set up the MariaDB client library";
    return nullptr;
  }
  auto backend = std::make_unique<MyBackend>(target, info);
  if (!backend->connect(error)) return nullptr;
  return backend;
}

}  // namespace sqlxa
}  // namespace zp
