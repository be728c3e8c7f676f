// What the tests of the SQL client XA library share: the library and its
// exports, the databases of the private servers, SQL on a native handle, XIDs
// and a thread of control of its own.
#ifndef ZP_TESTS_SQLXA_SQLXA_HARNESS_H
#define ZP_TESTS_SQLXA_SQLXA_HARNESS_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "zpor8dtc23/xa.h"

namespace zp {
namespace test {

enum class DbKind { kPostgres, kMariaDb };

// One database of the servers dbservers.sh started for this process.
struct Database {
  const char* label;  // "pg" or "my", for test names
  DbKind kind;
  const char* connection;  // its name in the connections file
};

extern const Database kPostgres;
extern const Database kMariaDb;

// The library, loaded by its full path (the module finds the same file
// through the library search).
struct SqlXa {
  xa_switch_t* sw = nullptr;
  void* (*svcCtx)(char*) = nullptr;
  void* (*env)(char*) = nullptr;
};
const SqlXa& sqlxa();

// "ORACLE_XA+Acc=P//+SqlNet=<connection>+DB=<db>+SesTm=<seconds>".
std::string openString(const Database& database, const std::string& db, int seconds = 5);

// A test over one database (its parameter) with a table of its own, made and
// read on a setup connection that the test's SetUp opens as rmid
// kSetupRmid (setup_: its native handle). TearDown closes that rmid.
class SqlXaTableTest : public testing::TestWithParam<const Database*> {
 protected:
  static constexpr int kSetupRmid = 90;

  void TearDown() override;
  const Database& db() const { return *GetParam(); }
  xa_switch_t* sw() const { return sqlxa().sw; }
  // prefix, then this test's name with the '/' before its parameter as '_'.
  static std::string tableNamed(const char* prefix);

  void* setup_ = nullptr;
};

// Runs sql on a native handle (PGconn* or MYSQL*): "" on success, else the
// server's message (never empty).
std::string execute(DbKind kind, void* handle, const std::string& sql);
// The first column of the first row, or "error: ..." / "no row".
std::string queryValue(DbKind kind, void* handle, const std::string& sql);
// The server's id for the handle's session (for ending it from elsewhere).
std::string sessionId(DbKind kind, void* handle);

XID makeXid(long formatId, const std::string& gtrid, const std::string& bqual);
bool sameXid(const XID& a, const XID& b);
std::string describe(const XID& xid);

// Runs the servers' script (kill or up of one server); true on success.
bool serverCommand(const std::string& command, const Database& database);

// A thread of control of its own: runs the tasks posted to it in order, so
// that the connections it opens stay its own. A task still running after
// kTaskLimit fails the test program at once.
class Session {
 public:
  Session();
  ~Session();
  std::future<int> post(std::function<int()> task);
  int run(std::function<int()> task);  // post and wait (bounded)

 private:
  void loop();
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<int()>> tasks_;
  bool stop_ = false;
  std::thread thread_;
};

// Waits for a result within the task limit; aborts the program on a hang.
int await(std::future<int>& result);

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_SQLXA_SQLXA_HARNESS_H
