// SQL through libpq and libmariadb on handles the client XA library owns.
#include "tools/xadriver/bank_sql.h"

#include <libpq-fe.h>
#include <mysql.h>

#include <cstdlib>

namespace zp {
namespace xadriver {
namespace {

bool pgQuery(PGconn* connection, const std::string& sql, std::vector<SqlRow>* rows,
             std::string* error) {
  PGresult* result = PQexec(connection, sql.c_str());
  const ExecStatusType status = result == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    *error = result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection);
    while (!error->empty() && error->back() == '\n') error->pop_back();
    PQclear(result);
    return false;
  }
  if (rows != nullptr && status == PGRES_TUPLES_OK) {
    for (int row = 0; row < PQntuples(result); ++row) {
      SqlRow values;
      for (int column = 0; column < PQnfields(result); ++column)
        values.emplace_back(PQgetvalue(result, row, column));
      rows->push_back(values);
    }
  }
  PQclear(result);
  return true;
}

bool myQuery(MYSQL* connection, const std::string& sql, std::vector<SqlRow>* rows,
             std::string* error) {
  if (mysql_real_query(connection, sql.data(), sql.size()) != 0) {
    *error = mysql_error(connection);
    return false;
  }
  MYSQL_RES* result = mysql_store_result(connection);
  if (result == nullptr) {
    if (mysql_field_count(connection) == 0) return true;  // no result set
    *error = mysql_error(connection);
    return false;
  }
  const unsigned columns = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    SqlRow values;
    for (unsigned column = 0; column < columns; ++column)
      values.emplace_back(row[column] == nullptr ? "" : std::string(row[column], lengths[column]));
    if (rows != nullptr) rows->push_back(values);
  }
  mysql_free_result(result);
  return true;
}

}  // namespace

bool SqlConnection::query(const std::string& sql, std::vector<SqlRow>* rows, std::string* error) {
  if (handle_ == nullptr) {
    *error = "no connection";
    return false;
  }
  return dialect_ == Dialect::kPostgres ? pgQuery(static_cast<PGconn*>(handle_), sql, rows, error)
                                        : myQuery(static_cast<MYSQL*>(handle_), sql, rows, error);
}

bool SqlConnection::execute(const std::string& sql, std::string* error) {
  return query(sql, nullptr, error);
}

bool SqlConnection::queryNumber(const std::string& sql, long long* value, std::string* error) {
  std::vector<SqlRow> rows;
  if (!query(sql, &rows, error)) return false;
  if (rows.empty() || rows[0].empty()) {
    *error = "no value from: " + sql;
    return false;
  }
  char* end = nullptr;
  const std::string& text = rows[0][0];
  *value = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end != '\0') {
    *error = "not a number: '" + text + "' from: " + sql;
    return false;
  }
  return true;
}

}  // namespace xadriver
}  // namespace zp
