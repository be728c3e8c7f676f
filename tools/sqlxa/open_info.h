// What an open string asks for, and where its +SqlNet name leads: the open
// string's options, the connections file and the two URI forms.
#ifndef ZP_TOOLS_SQLXA_OPEN_INFO_H
#define ZP_TOOLS_SQLXA_OPEN_INFO_H

#include <cstddef>
#include <string>
#include <vector>

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
// saying what is wrong into error; it quotes nothing of the open string, since
// a password may be anywhere in a malformed one.
bool parse_open_info(const std::string& text, OpenInfo* info, std::string* error);

// Whether two open strings ask for the same connection.
bool same_open_info(const OpenInfo& a, const OpenInfo& b);

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
  // What of the URI may be a password (the text after the user's ':', raw
  // and decoded, and libpq's password), for taking out of the messages of
  // the servers and client libraries.
  std::vector<std::string> secrets;
};

// Parses "mariadb://..." or "postgresql://..." / "postgres://..." (the latter
// checked by libpq's parser). Errors quote nothing of the URI.
bool parse_target(const std::string& uri, Target* target, std::string* error);

// The largest connections file read.
constexpr size_t kMaxConnectionsFile = 1 << 20;

// Looks name up (letter case ignored) in the text of a connections file:
// "NAME = URI" lines, '#' starts a comment line, blank lines are skipped. Any
// malformed line fails the whole file. path names the file in errors, which
// quote nothing of its text.
bool parse_connections(const std::string& text, const std::string& path, const std::string& name,
                       Target* target, std::string* error);

// Reads the connections file named by ZPSQLXA_CONNECTIONS (a regular file of
// at most kMaxConnectionsFile bytes; nothing else is opened for reading, so
// that a FIFO or a device cannot hang or exhaust the caller) and looks name up
// in it.
bool find_connection(const std::string& name, Target* target, std::string* error);

// message with every run of four or more bytes of a secret (a shorter secret:
// every whole occurrence) replaced by "***".
std::string without_secrets(const std::string& message, const std::vector<std::string>& secrets);

}  // namespace sqlxa
}  // namespace zp

#endif  // ZP_TOOLS_SQLXA_OPEN_INFO_H
