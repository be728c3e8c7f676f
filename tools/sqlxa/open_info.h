// What an open string asks for, and where its +SqlNet name leads: the open
// string's options, the connections file and the two URI forms.
#ifndef ZP_TOOLS_SQLXA_OPEN_INFO_H
#define ZP_TOOLS_SQLXA_OPEN_INFO_H

#include <string>

namespace zp {
namespace sqlxa {

// "ORACLE_XA+Acc=P/user/password+SqlNet=NAME+DB=NAME+SesTm=N+Threads=..."
// (keywords in any letter case, options in any order).
struct OpenInfo {
  std::string user;      // from +Acc; empty: the URI's
  std::string password;  // from +Acc; empty with an empty user: the URI's
  std::string sqlnet;    // the connections file name; required
  std::string db;        // the connection's name for xaoSvcCtx and xaoEnv
  long lock_wait = -1;   // +SesTm seconds; -1 when not given
};

// Fills info from an open string. On failure returns false and puts one line
// saying what is wrong into error (passwords never appear in it).
bool parse_open_info(const std::string& text, OpenInfo* info, std::string* error);

enum class DatabaseKind { kPostgres, kMariaDb };

// One database to connect to, from a URI of the connections file.
struct Target {
  DatabaseKind kind = DatabaseKind::kPostgres;
  std::string uri;  // PostgreSQL: libpq's URI, passed as is
  // MariaDB: mariadb://[user[:password]@]host[:port]/database[?socket=PATH]
  std::string host;
  unsigned port = 0;
  std::string user;
  std::string password;
  std::string database;
  std::string socket;
};

// Parses "mariadb://..." or "postgresql://..." / "postgres://...". The
// PostgreSQL form is checked by libpq when connecting.
bool parse_target(const std::string& uri, Target* target, std::string* error);

// Looks name up (letter case ignored) in the connections file named by
// ZPSQLXA_CONNECTIONS: "NAME = URI" lines, '#' starts a comment line, blank
// lines are skipped. Any malformed line fails the whole file.
bool find_connection(const std::string& name, Target* target, std::string* error);

}  // namespace sqlxa
}  // namespace zp

#endif  // ZP_TOOLS_SQLXA_OPEN_INFO_H
