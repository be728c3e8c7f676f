// One connection to a database, as the XA entries use it: the branch the
// connection has open (at most one) and the prepared branches of the
// database. Each operation returns an XA code; the entries in sqlxa.cc keep
// the branch states and decide which operation runs.
#ifndef ZP_TOOLS_SQLXA_BACKEND_H
#define ZP_TOOLS_SQLXA_BACKEND_H

#include <memory>
#include <string>
#include <vector>

#include "tools/sqlxa/open_info.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace sqlxa {

class Backend {
 public:
  virtual ~Backend() = default;

  // The PGconn* or MYSQL* the application works on.
  virtual void* native() = 0;
  // True once the server is gone: every later operation answers XAER_RMFAIL.
  virtual bool lost() const = 0;

  // Starts a branch on this connection.
  virtual int begin(const XID& xid) = 0;
  // Prepares the connection's open branch (ended by the caller's bookkeeping).
  // XA_OK, an XA_RB* code when the branch was rolled back instead,
  // XAER_RMFAIL or XAER_RMERR.
  virtual int prepare(const XID& xid) = 0;
  // Commits the open branch in one phase: XA_OK, XA_RB*, XAER_RMFAIL, XAER_RMERR.
  virtual int commit_one_phase(const XID& xid) = 0;
  // Rolls back the open branch.
  virtual int rollback_open(const XID& xid) = 0;
  // Completes a prepared branch: XA_OK, XAER_NOTA when the database has no
  // such prepared branch, XA_RETRY when another session holds it.
  virtual int commit_prepared(const XID& xid) = 0;
  virtual int rollback_prepared(const XID& xid) = 0;
  // The prepared branches of this database that this library wrote.
  virtual int list_prepared(std::vector<XID>* xids) = 0;
};

// Opens a connection for info to target. On failure returns null with an XA
// code (XAER_RMERR, XAER_INVAL) in *code and one line in *error.
std::unique_ptr<Backend> open_postgres(const Target& target, const OpenInfo& info, int* code,
                                       std::string* error);
std::unique_ptr<Backend> open_mariadb(const Target& target, const OpenInfo& info, int* code,
                                      std::string* error);

}  // namespace sqlxa
}  // namespace zp

#endif  // ZP_TOOLS_SQLXA_BACKEND_H
