// The shared helpers of the SQL client XA library's tests.
#include "sqlxa/sqlxa_harness.h"

#include <libpq-fe.h>
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zp {
namespace test {

const Database kPostgres{"pg", DbKind::kPostgres, "test_pg"};
const Database kMariaDb{"my", DbKind::kMariaDb, "test_my"};

namespace {
const std::chrono::seconds kTaskLimit(60);
}

const SqlXa& sqlxa() {
  static SqlXa loaded = [] {
    SqlXa s;
    platform::Library* library = platform::libraryLoad(ZP_SQLXA_FILE);
    if (library == nullptr) return s;
    s.sw = static_cast<xa_switch_t*>(platform::librarySymbol(library, "xaosw"));
    s.svcCtx = reinterpret_cast<void* (*)(char*)>(platform::librarySymbol(library, "xaoSvcCtx"));
    s.env = reinterpret_cast<void* (*)(char*)>(platform::librarySymbol(library, "xaoEnv"));
    return s;
  }();
  return loaded;
}

std::string openString(const Database& database, const std::string& db, int seconds) {
  return "ORACLE_XA+Acc=P//+SqlNet=" + std::string(database.connection) + "+DB=" + db +
         "+SesTm=" + std::to_string(seconds);
}

void SqlXaTableTest::TearDown() {
  std::string empty;
  sw()->xa_close_entry(&empty[0], kSetupRmid, TMNOFLAGS);
}

std::string SqlXaTableTest::tableNamed(const char* prefix) {
  std::string name =
      prefix + std::string(testing::UnitTest::GetInstance()->current_test_info()->name());
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

std::string execute(DbKind kind, void* handle, const std::string& sql) {
  if (handle == nullptr) return "no handle";
  if (kind == DbKind::kPostgres) {
    PGconn* connection = static_cast<PGconn*>(handle);
    PGresult* result = PQexec(connection, sql.c_str());
    ExecStatusType status = PQresultStatus(result);
    std::string error =
        status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQerrorMessage(connection);
    if (error.empty() && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = "failed";
    PQclear(result);
    return error;
  }
  MYSQL* connection = static_cast<MYSQL*>(handle);
  if (mysql_query(connection, sql.c_str()) != 0)
    return std::string("error ") + mysql_error(connection);
  MYSQL_RES* result = mysql_store_result(connection);
  if (result != nullptr) mysql_free_result(result);
  return "";
}

std::string queryValue(DbKind kind, void* handle, const std::string& sql) {
  if (handle == nullptr) return "error: no handle";
  if (kind == DbKind::kPostgres) {
    PGconn* connection = static_cast<PGconn*>(handle);
    PGresult* result = PQexec(connection, sql.c_str());
    std::string value = PQresultStatus(result) != PGRES_TUPLES_OK
                            ? "error: " + std::string(PQerrorMessage(connection))
                        : PQntuples(result) == 0 ? "no row"
                                                 : PQgetvalue(result, 0, 0);
    PQclear(result);
    return value;
  }
  MYSQL* connection = static_cast<MYSQL*>(handle);
  if (mysql_query(connection, sql.c_str()) != 0)
    return std::string("error: ") + mysql_error(connection);
  MYSQL_RES* result = mysql_store_result(connection);
  if (result == nullptr) return "error: no result";
  MYSQL_ROW row = mysql_fetch_row(result);
  std::string value = row == nullptr ? "no row" : row[0] == nullptr ? "NULL" : row[0];
  mysql_free_result(result);
  return value;
}

std::string sessionId(DbKind kind, void* handle) {
  if (kind == DbKind::kPostgres) return std::to_string(PQbackendPID(static_cast<PGconn*>(handle)));
  return std::to_string(mysql_thread_id(static_cast<MYSQL*>(handle)));
}

XID makeXid(long formatId, const std::string& gtrid, const std::string& bqual) {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = formatId;
  xid.gtrid_length = static_cast<long>(gtrid.size());
  xid.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(xid.data, gtrid.data(), gtrid.size());
  std::memcpy(xid.data + gtrid.size(), bqual.data(), bqual.size());
  return xid;
}

bool sameXid(const XID& a, const XID& b) {
  return a.formatID == b.formatID && a.gtrid_length == b.gtrid_length &&
         a.bqual_length == b.bqual_length && a.gtrid_length >= 0 && a.bqual_length >= 0 &&
         a.gtrid_length + a.bqual_length <= XIDDATASIZE &&
         std::memcmp(a.data, b.data, static_cast<size_t>(a.gtrid_length + a.bqual_length)) == 0;
}

std::string describe(const XID& xid) {
  std::string text = std::to_string(xid.formatID) + ":" + std::to_string(xid.gtrid_length) + ":" +
                     std::to_string(xid.bqual_length) + ":";
  long length = xid.gtrid_length + xid.bqual_length;
  for (long i = 0; i >= 0 && i < length && i < XIDDATASIZE; ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(xid.data[i]));
    text += digits;
  }
  return text;
}

bool serverCommand(const std::string& command, const Database& database) {
  const char* dir = std::getenv("ZP_DB_DIR");
  if (dir == nullptr) return false;
  std::string which = database.kind == DbKind::kPostgres ? "pg" : "my";
  std::string line =
      std::string(ZP_DBSERVERS_SCRIPT) + " " + command + " " + which + " '" + dir + "'";
  return std::system(line.c_str()) == 0;
}

Session::Session() : thread_([this] { loop(); }) {}

Session::~Session() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

std::future<int> Session::post(std::function<int()> task) {
  std::packaged_task<int()> packaged(std::move(task));
  std::future<int> result = packaged.get_future();
  {
    std::lock_guard<std::mutex> hold(lock_);
    tasks_.push_back(std::move(packaged));
  }
  wake_.notify_one();
  return result;
}

int Session::run(std::function<int()> task) {
  std::future<int> result = post(std::move(task));
  return await(result);
}

void Session::loop() {
  for (;;) {
    std::packaged_task<int()> task;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return stop_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

int await(std::future<int>& result) {
  if (result.wait_for(kTaskLimit) != std::future_status::ready) {
    std::fprintf(stderr, "a task of a test session did not end within %lld s\n",
                 static_cast<long long>(kTaskLimit.count()));
    std::abort();
  }
  return result.get();
}

}  // namespace test
}  // namespace zp
