// SQL on the native connection handles a client XA library hands out through
// the service-context accessors: libpq's PGconn* for PostgreSQL, libmariadb's
// MYSQL* for MariaDB. Built on the native target only.
#ifndef ZP_TOOLS_XADRIVER_BANK_SQL_H
#define ZP_TOOLS_XADRIVER_BANK_SQL_H

#include <string>
#include <vector>

namespace zp {
namespace xadriver {

enum class Dialect { kPostgres, kMariaDb };

using SqlRow = std::vector<std::string>;

// One database connection the caller does not own. Each operation runs on the
// caller's thread; the connection must not be in use by another thread (the
// client XA library's own calls for it included) at the same time.
class SqlConnection {
 public:
  SqlConnection() = default;
  SqlConnection(Dialect dialect, void* handle) : dialect_(dialect), handle_(handle) {}

  Dialect dialect() const { return dialect_; }
  bool valid() const { return handle_ != nullptr; }

  // Runs one statement (PostgreSQL: several, separated by ';'). On failure
  // returns false with the server's message in *error.
  bool execute(const std::string& sql, std::string* error);
  // Runs a query and returns its rows, every column as text (NULL as "").
  bool query(const std::string& sql, std::vector<SqlRow>* rows, std::string* error);
  // Runs a query whose first row's first column is an integer.
  bool queryNumber(const std::string& sql, long long* value, std::string* error);

 private:
  Dialect dialect_ = Dialect::kPostgres;
  void* handle_ = nullptr;
};

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_BANK_SQL_H
