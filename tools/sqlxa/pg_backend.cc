// A PostgreSQL connection through libpq. A branch is a transaction block
// (BEGIN) that ends in PREPARE TRANSACTION, COMMIT or ROLLBACK; prepared
// branches are completed with COMMIT PREPARED / ROLLBACK PREPARED and listed
// from pg_prepared_xacts of the connection's own database. Gids name the
// database (its OID), since the server keeps one gid namespace for all of
// them; gids of the earlier form, without the database, are still completed.
#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "tools/sqlxa/backend.h"
#include "tools/sqlxa/xid_text.h"

namespace zp {
namespace sqlxa {
namespace {

// The result of one statement: the server's SQLSTATE on failure, the command
// tag and the rows' first column on success.
struct Outcome {
  bool ok = false;
  std::string sqlstate;
  std::string tag;
  std::vector<std::string> column;
};

bool sqlstate_class(const std::string& sqlstate, const char* cls) {
  return sqlstate.compare(0, 2, cls) == 0;
}

// Why a transaction the server rolled back at PREPARE or COMMIT failed.
int rollback_reason(const std::string& sqlstate) {
  if (sqlstate == "40P01") return XA_RBDEADLOCK;
  if (sqlstate == "55P03" || sqlstate == "57014") return XA_RBTIMEOUT;  // lock or statement timeout
  if (sqlstate_class(sqlstate, "23")) return XA_RBINTEGRITY;            // e.g. deferred constraints
  if (sqlstate == "40001") return XA_RBTRANSIENT;                       // serialization failure
  if (sqlstate_class(sqlstate, "40")) return XA_RBROLLBACK;
  return XA_RBOTHER;
}

void ignore_notice(void*, const char*) {}

class PgBackend : public Backend {
 public:
  PgBackend(PGconn* connection, unsigned long database)
      : connection_(connection),
        database_(database),
        tells_read_only_(PQserverVersion(connection) >= 130000) {
    PQsetNoticeProcessor(connection_, ignore_notice, nullptr);
  }
  ~PgBackend() override { PQfinish(connection_); }

  void* native() override { return connection_; }
  bool lost() const override { return lost_; }

  Outcome run(const std::string& sql) {
    Outcome outcome;
    PGresult* result = PQexec(connection_, sql.c_str());
    ExecStatusType status = result == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      outcome.ok = true;
      outcome.tag = PQcmdStatus(result);
      for (int row = 0; status == PGRES_TUPLES_OK && row < PQntuples(result); ++row) {
        outcome.column.push_back(PQgetvalue(result, row, 0));
      }
    } else if (result != nullptr) {
      const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
      outcome.sqlstate = state == nullptr ? "" : state;
    }
    PQclear(result);
    if (PQstatus(connection_) != CONNECTION_OK) lost_ = true;
    return outcome;
  }

  // After a failed statement: leaves no transaction block behind.
  void end_block() {
    if (!lost_ && PQtransactionStatus(connection_) != PQTRANS_IDLE) run("ROLLBACK");
  }

  int begin(const XID& xid) override {
    Outcome known = run("SELECT 1 FROM pg_prepared_xacts WHERE gid IN ('" + gid(xid) + "', '" +
                        xid_to_old_gid(xid) + "') AND database = current_database()");
    if (!known.ok) return lost_ ? XAER_RMFAIL : XAER_RMERR;
    if (!known.column.empty()) return XAER_DUPID;
    if (PQtransactionStatus(connection_) != PQTRANS_IDLE) return XAER_OUTSIDE;
    Outcome begun = run("BEGIN");
    return begun.ok ? XA_OK : lost_ ? XAER_RMFAIL : XAER_RMERR;
  }

  // PREPARE TRANSACTION and COMMIT on a transaction that already failed
  // answer with success and the command tag ROLLBACK: the work is gone.
  int finish(const std::string& sql, const char* done_tag) {
    // No transaction block: the application ended the branch's transaction
    // itself on the handle, and whether its work stands is unknown here.
    if (PQtransactionStatus(connection_) == PQTRANS_IDLE) return XAER_RMERR;
    Outcome outcome = run(sql);
    if (lost_) return XAER_RMFAIL;
    if (!outcome.ok) {
      end_block();
      return lost_ ? XAER_RMFAIL : rollback_reason(outcome.sqlstate);
    }
    return outcome.tag == done_tag ? XA_OK : XA_RBROLLBACK;
  }

  // A branch to which the server assigned no transaction id wrote nothing
  // and locked no row: it is committed at once and answers XA_RDONLY, so
  // that nothing stays in doubt for it. (Its transaction-level advisory
  // locks end here too.) After a failed statement the question fails, and
  // PREPARE TRANSACTION answers the rollback as before.
  int prepare(const XID& xid) override {
    if (tells_read_only_ && PQtransactionStatus(connection_) == PQTRANS_INTRANS) {
      Outcome unassigned = run("SELECT pg_current_xact_id_if_assigned() IS NULL");
      if (lost_) return XAER_RMFAIL;
      if (unassigned.ok && unassigned.column.size() == 1 && unassigned.column[0] == "t") {
        const int code = finish("COMMIT", "COMMIT");
        return code == XA_OK ? XA_RDONLY : code;
      }
    }
    return finish("PREPARE TRANSACTION '" + gid(xid) + "'", "PREPARE TRANSACTION");
  }

  int commit_one_phase(const XID&) override { return finish("COMMIT", "COMMIT"); }

  int rollback_open(const XID&) override {
    Outcome outcome = run("ROLLBACK");
    return outcome.ok ? XA_OK : lost_ ? XAER_RMFAIL : XAER_RMERR;
  }

  // COMMIT PREPARED or ROLLBACK PREPARED (verb) of xid's gid, or of the
  // gid of its earlier form when the database has no branch of the first.
  int complete(const char* verb, const XID& xid) {
    if (PQtransactionStatus(connection_) != PQTRANS_IDLE) return XAER_PROTO;
    Outcome outcome = run(verb + ("'" + gid(xid) + "'"));
    if (!outcome.ok && outcome.sqlstate == "42704" && !lost_) {
      outcome = run(verb + ("'" + xid_to_old_gid(xid) + "'"));
    }
    if (outcome.ok) return XA_OK;
    if (lost_) return XAER_RMFAIL;
    if (outcome.sqlstate == "42704") return XAER_NOTA;  // no prepared transaction of that gid
    if (outcome.sqlstate == "55000") return XA_RETRY;   // another session is completing it
    return XAER_RMERR;
  }

  int commit_prepared(const XID& xid) override { return complete("COMMIT PREPARED ", xid); }
  int rollback_prepared(const XID& xid) override { return complete("ROLLBACK PREPARED ", xid); }

  int list_prepared(std::vector<XID>* xids) override {
    Outcome outcome =
        run("SELECT gid FROM pg_prepared_xacts WHERE database = current_database() ORDER BY "
            "prepared, gid");
    if (!outcome.ok) return lost_ ? XAER_RMFAIL : XAER_RMERR;
    xids->clear();
    for (const std::string& text : outcome.column) {
      XID xid;
      if (gid_to_xid(text, database_, &xid)) xids->push_back(xid);
    }
    return XA_OK;
  }

 private:
  std::string gid(const XID& xid) const { return xid_to_gid(xid, database_); }

  PGconn* connection_;
  const unsigned long database_;  // the OID of the connection's database
  const bool tells_read_only_;    // pg_current_xact_id_if_assigned, from version 13
  bool lost_ = false;
};

std::string first_line(const char* text) {
  std::string line = text == nullptr ? "" : text;
  size_t end = line.find('\n');
  return end == std::string::npos ? line : line.substr(0, end);
}

}  // namespace

std::unique_ptr<Backend> open_postgres(const Target& target, const OpenInfo& info, int* code,
                                       std::string* error) {
  // parse_target has checked the URI with libpq's parser. Later keywords override what the URI
  // (expanded from dbname) says.
  std::vector<const char*> keys{"dbname", "connect_timeout", "application_name"};
  std::vector<const char*> values{target.uri.c_str(), "10", "sqlxa"};
  if (!info.user.empty()) {
    keys.push_back("user");
    values.push_back(info.user.c_str());
    keys.push_back("password");
    values.push_back(info.password.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* connection = PQconnectdbParams(keys.data(), values.data(), 1);
  if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
    *error = "cannot connect to PostgreSQL: " +
             first_line(connection == nullptr ? "" : PQerrorMessage(connection));
    PQfinish(connection);
    *code = XAER_RMERR;
    return nullptr;
  }
  // The database's OID names it in gids; it stays the same when the
  // database is renamed.
  PGresult* settings = PQexec(connection,
                              "SELECT current_setting('max_prepared_transactions'), oid FROM "
                              "pg_database WHERE datname = current_database()");
  const bool read = PQresultStatus(settings) == PGRES_TUPLES_OK && PQntuples(settings) == 1;
  const std::string limit = read ? PQgetvalue(settings, 0, 0) : "";
  const unsigned long database = read ? std::strtoul(PQgetvalue(settings, 0, 1), nullptr, 10) : 0;
  PQclear(settings);
  auto backend = std::make_unique<PgBackend>(connection, database);
  if (!read || database == 0) {
    *error = "cannot read max_prepared_transactions and the database's OID from PostgreSQL";
    *code = XAER_RMERR;
    return nullptr;
  }
  if (limit == "0") {
    *error =
        "the PostgreSQL server has max_prepared_transactions = 0, so it cannot prepare; set it "
        "above 0";
    *code = XAER_RMERR;
    return nullptr;
  }
  if (info.lock_wait > 0 &&
      !backend->run("SET lock_timeout = '" + std::to_string(info.lock_wait) + "s'").ok) {
    *error = "cannot set lock_timeout on PostgreSQL";
    *code = XAER_RMERR;
    return nullptr;
  }
  return backend;
}

}  // namespace sqlxa
}  // namespace zp
