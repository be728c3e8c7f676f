// The SQL client XA library against the real servers in the situations a
// transaction manager recovers from: binary XIDs through recovery scans, a
// session lost and opened again, a server killed between prepare and commit,
// and the whole path through the module's two switches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sqlxa/sqlxa_harness.h"
#include "testlib/module_file.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace test {
namespace {

char* text(std::string& s) { return &s[0]; }

// Every XID of a full recovery scan in chunks of count.
std::vector<XID> recoverAll(xa_switch_t* sw, int rmid, long count, int* calls) {
  std::vector<XID> all;
  std::vector<XID> chunk(static_cast<size_t>(count));
  long flags = TMSTARTRSCAN;
  *calls = 0;
  for (;;) {
    int n = sw->xa_recover_entry(chunk.data(), count, rmid, flags);
    ++*calls;
    if (n < 0 || *calls > 100) {
      ADD_FAILURE() << "xa_recover returned " << n << " at call " << *calls;
      return all;
    }
    all.insert(all.end(), chunk.begin(), chunk.begin() + n);
    if (n < count) break;
    flags = TMNOFLAGS;
  }
  EXPECT_EQ(sw->xa_recover_entry(chunk.data(), 0, rmid, TMENDRSCAN), 0);
  return all;
}

bool contains(const std::vector<XID>& xids, const XID& xid) {
  for (const XID& x : xids) {
    if (sameXid(x, xid)) return true;
  }
  return false;
}

// The module, loaded by file name with the library search pointed at the
// SQL client XA library's folder.
struct Module {
  int32_t (*getXaSwitch)(uint32_t, xa_switch_t**) = nullptr;
  xa_switch_t* (*mqStart)() = nullptr;
  void* (*hkXaoSvcCtx)(int, char*) = nullptr;
  void* (*hkMQXaoSvcCtx)(char*) = nullptr;
};

const Module& module() {
  static Module loaded = [] {
    Module m;
    platform::Library* library = platform::libraryLoad(moduleFile());
    if (library == nullptr) return m;
    m.getXaSwitch = reinterpret_cast<int32_t (*)(uint32_t, xa_switch_t**)>(
        platform::librarySymbol(library, "GetXaSwitch"));
    m.mqStart = reinterpret_cast<xa_switch_t* (*)()>(platform::librarySymbol(library, "MQStart"));
    m.hkXaoSvcCtx =
        reinterpret_cast<void* (*)(int, char*)>(platform::librarySymbol(library, "hkXaoSvcCtx"));
    m.hkMQXaoSvcCtx =
        reinterpret_cast<void* (*)(char*)>(platform::librarySymbol(library, "hkMQXaoSvcCtx"));
    return m;
  }();
  return loaded;
}

class SqlXaRecovery : public SqlXaTableTest {
 protected:
  void SetUp() override {
    ASSERT_NE(sqlxa().sw, nullptr) << ZP_SQLXA_FILE;
    const Module& m = module();
    ASSERT_TRUE(m.getXaSwitch && m.mqStart && m.hkXaoSvcCtx && m.hkMQXaoSvcCtx) << moduleFile();
    // A table of this test's own on a connection outside any branch.
    std::string info = openString(db(), "setup");
    ASSERT_EQ(sw()->xa_open_entry(text(info), kSetupRmid, TMNOFLAGS), XA_OK);
    std::string name = "setup";
    setup_ = sqlxa().svcCtx(text(name));
    execute(db().kind, setup_, "DROP TABLE IF EXISTS " + table());
    ASSERT_EQ(execute(db().kind, setup_,
                      "CREATE TABLE " + table() + " (id INT PRIMARY KEY, note VARCHAR(40))"),
              "");
  }
  // "r_<test>_<database>": the test's name holds a '/' before its parameter.
  std::string table() const { return tableNamed("r_"); }
  // Rows of this test's table, counted on the setup connection (which must
  // be open again after a server restart: reopen() does that).
  std::string rows(const std::string& where = "1=1") {
    return queryValue(db().kind, setup_, "SELECT count(*) FROM " + table() + " WHERE " + where);
  }
  void reopen() {
    std::string empty;
    sw()->xa_close_entry(text(empty), kSetupRmid, TMNOFLAGS);
    std::string info = openString(db(), "setup");
    ASSERT_EQ(sw()->xa_open_entry(text(info), kSetupRmid, TMNOFLAGS), XA_OK);
    std::string name = "setup";
    setup_ = sqlxa().svcCtx(text(name));
  }
};

TEST_P(SqlXaRecovery, BinaryXidsComeBackExactlyThroughRecovery) {
  const std::string all(reinterpret_cast<const char*>(
                            "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
                            "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
                            "'\"\\%_.+=/ \x7f\x80\x81\xfe\xff"),
                        45);
  std::string g64 = all + std::string(19, '\0');
  std::string b64 = std::string(32, '\xff') + std::string(32, '\'');
  std::vector<XID> xids = {
      makeXid(0, g64, b64),                                    // both parts 64 bytes
      makeXid(0x7fffffff, "'; DROP TABLE t; --", ""),          // quotes, empty bqual
      makeXid(1, std::string(1, '\0'), std::string(2, '\0')),  // only zero bytes
      makeXid(42, std::string(64, '\''), std::string(64, '\\')),
      makeXid(7, "x", "y"),
  };
  std::string info = openString(db(), "bin");
  ASSERT_EQ(sw()->xa_open_entry(text(info), 21, TMNOFLAGS), XA_OK);
  std::string name = "bin";
  void* handle = sqlxa().svcCtx(text(name));
  for (size_t i = 0; i < xids.size(); ++i) {
    ASSERT_EQ(sw()->xa_start_entry(&xids[i], 21, TMNOFLAGS), XA_OK) << describe(xids[i]);
    ASSERT_EQ(execute(db().kind, handle,
                      "INSERT INTO " + table() + " VALUES (" + std::to_string(i) + ", 'b')"),
              "");
    ASSERT_EQ(sw()->xa_end_entry(&xids[i], 21, TMSUCCESS), XA_OK);
    ASSERT_EQ(sw()->xa_prepare_entry(&xids[i], 21, TMNOFLAGS), XA_OK) << describe(xids[i]);
  }
  // A prepared transaction this library did not write is none of its business.
  if (db().kind == DbKind::kPostgres) {
    for (const char* gid : {"foreign-1", "zx1.01.eA.", "zx1.1.eB.", "zx1.1..", "zx1.1.eA.eA.eA"}) {
      ASSERT_EQ(execute(db().kind, setup_, "BEGIN"), "");
      ASSERT_EQ(execute(db().kind, setup_, std::string("PREPARE TRANSACTION '") + gid + "'"), "")
          << gid;
    }
  }
  std::string empty;
  ASSERT_EQ(sw()->xa_close_entry(text(empty), 21, TMNOFLAGS), XA_OK);

  // A new connection finds every branch, byte for byte, in scans of two.
  ASSERT_EQ(sw()->xa_open_entry(text(info), 22, TMNOFLAGS), XA_OK);
  int calls = 0;
  std::vector<XID> found = recoverAll(sw(), 22, 2, &calls);
  EXPECT_EQ(found.size(), xids.size());
  EXPECT_EQ(calls, 3);
  for (XID& xid : xids) {
    EXPECT_TRUE(contains(found, xid)) << "not recovered: " << describe(xid);
    EXPECT_EQ(sw()->xa_commit_entry(&xid, 22, TMNOFLAGS), XA_OK) << describe(xid);
  }
  EXPECT_EQ(rows(), std::to_string(xids.size()));
  EXPECT_TRUE(recoverAll(sw(), 22, 10, &calls).empty());
  EXPECT_EQ(sw()->xa_close_entry(text(empty), 22, TMNOFLAGS), XA_OK);
  if (db().kind == DbKind::kPostgres) {
    for (const char* gid : {"foreign-1", "zx1.01.eA.", "zx1.1.eB.", "zx1.1..", "zx1.1.eA.eA.eA"}) {
      EXPECT_EQ(execute(db().kind, setup_, std::string("ROLLBACK PREPARED '") + gid + "'"), "")
          << gid;
    }
  }
}

TEST_P(SqlXaRecovery, ALostSessionFailsItsCallsAndTheNextOpenWorks) {
  std::string info = openString(db(), "lost");
  std::string name = "lost";
  std::string empty;
  XID first = makeXid(1, "lost-1", "b");
  XID second = makeXid(1, "lost-2", "b");
  ASSERT_EQ(sw()->xa_open_entry(text(info), 11, TMNOFLAGS), XA_OK);
  ASSERT_EQ(sw()->xa_start_entry(&first, 11, TMNOFLAGS), XA_OK);
  void* handle = sqlxa().svcCtx(text(name));
  ASSERT_EQ(execute(db().kind, handle, "INSERT INTO " + table() + " VALUES (1, 'lost')"), "");
  std::string id = sessionId(db().kind, handle);
  ASSERT_EQ(execute(db().kind, setup_,
                    db().kind == DbKind::kPostgres ? "SELECT pg_terminate_backend(" + id + ")"
                                                   : "KILL " + id),
            "");
  EXPECT_EQ(sw()->xa_end_entry(&first, 11, TMSUCCESS), XA_OK);  // nothing to ask the server yet
  EXPECT_EQ(sw()->xa_prepare_entry(&first, 11, TMNOFLAGS), XAER_RMFAIL);
  EXPECT_EQ(sw()->xa_start_entry(&second, 11, TMNOFLAGS), XAER_RMFAIL);
  XID found[4];
  EXPECT_EQ(sw()->xa_recover_entry(found, 4, 11, TMSTARTRSCAN | TMENDRSCAN), XAER_RMFAIL);

  // Opened again without a close: the lost session is replaced by a new one.
  ASSERT_EQ(sw()->xa_open_entry(text(info), 11, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw()->xa_start_entry(&second, 11, TMNOFLAGS), XA_OK);
  handle = sqlxa().svcCtx(text(name));
  EXPECT_EQ(execute(db().kind, handle, "INSERT INTO " + table() + " VALUES (2, 'again')"), "");
  EXPECT_EQ(sw()->xa_end_entry(&second, 11, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw()->xa_commit_entry(&second, 11, TMONEPHASE), XA_OK);
  EXPECT_EQ(rows(), "1");
  EXPECT_EQ(rows("id = 2"), "1");
  EXPECT_EQ(sw()->xa_close_entry(text(empty), 11, TMNOFLAGS), XA_OK);
}

// xaoSvcCtx and xaoEnv answer only for the calling thread's connections.
TEST_P(SqlXaRecovery, HandlesBelongToTheThreadThatOpenedThem) {
  std::string info = openString(db(), "h1");
  std::string h1 = "h1";
  std::string unknown = "h2";
  std::string empty;
  ASSERT_EQ(sw()->xa_open_entry(text(info), 51, TMNOFLAGS), XA_OK);
  void* mine = sqlxa().svcCtx(text(h1));
  void* myEnv = sqlxa().env(text(h1));
  Session other;
  void* theirs = nullptr;
  void* theirsUnnamed = nullptr;
  void* mineFromThere = nullptr;
  other.run([&] {
    mineFromThere = sqlxa().svcCtx(text(h1));
    int code = sw()->xa_open_entry(text(info), 51, TMNOFLAGS);
    theirs = sqlxa().svcCtx(text(h1));
    theirsUnnamed = sqlxa().svcCtx(nullptr);
    return code;
  });
  struct Case {
    const char* name;
    bool holds;
  } cases[] = {
      {"the opening thread gets a handle", mine != nullptr},
      {"and an environment that is not the handle", myEnv != nullptr && myEnv != mine},
      {"an unknown name gets none", sqlxa().svcCtx(text(unknown)) == nullptr},
      {"two connections on this thread: no null-name answer", sqlxa().svcCtx(nullptr) == nullptr},
      {"another thread does not get this thread's handle", mineFromThere == nullptr},
      {"the same rmid and name on another thread is another connection",
       theirs != nullptr && theirs != mine},
      {"a thread's only connection answers the null name", theirsUnnamed == theirs},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.holds) << c.name;
  EXPECT_EQ(other.run([&] { return sw()->xa_close_entry(text(empty), 51, TMNOFLAGS); }), XA_OK);
  EXPECT_EQ(sw()->xa_close_entry(text(empty), 51, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sqlxa().svcCtx(text(h1)), nullptr);
}

// Through the DTC switch (each rmid on a worker of the module's) and the MQ
// switch (on this thread, the +DB name extended by the module), a two-phase
// commit whose work runs on the handle the module's accessor hands out.
TEST_P(SqlXaRecovery, TwoPhaseCommitThroughBothSwitches) {
  const Module& m = module();
  for (const char* path : {"dtc", "mq"}) {
    SCOPED_TRACE(path);
    bool dtc = std::strcmp(path, "dtc") == 0;
    xa_switch_t* sw = nullptr;
    if (dtc) {
      ASSERT_EQ(m.getXaSwitch(0, &sw), 0);
    } else {
      sw = m.mqStart();
    }
    ASSERT_NE(sw, nullptr);
    int rmid = dtc ? 31 : 32;
    std::string info = openString(db(), path);
    std::string name = path;
    std::string other = "other";
    std::string empty;
    ASSERT_EQ(sw->xa_open_entry(text(info), rmid, TMNOFLAGS), XA_OK);
    XID xid = makeXid(0x5a50, std::string("switch-") + path, "b");
    ASSERT_EQ(sw->xa_start_entry(&xid, rmid, TMNOFLAGS), XA_OK);
    void* handle = dtc ? m.hkXaoSvcCtx(rmid, text(name)) : m.hkMQXaoSvcCtx(text(name));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(dtc ? m.hkXaoSvcCtx(rmid, text(other)) : m.hkMQXaoSvcCtx(text(other)), nullptr);
    EXPECT_EQ(execute(db().kind, handle,
                      "INSERT INTO " + table() + " VALUES (" + std::to_string(rmid) + ", '" + path +
                          "')"),
              "");
    EXPECT_EQ(sw->xa_end_entry(&xid, rmid, TMSUCCESS), XA_OK);
    EXPECT_EQ(rows(), dtc ? "0" : "1");  // not yet committed
    EXPECT_EQ(sw->xa_prepare_entry(&xid, rmid, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw->xa_commit_entry(&xid, rmid, TMNOFLAGS), XA_OK);
    EXPECT_EQ(rows("id = " + std::to_string(rmid)), "1");
    EXPECT_EQ(sw->xa_close_entry(text(empty), rmid, TMNOFLAGS), XA_OK);
  }
}

// The server dies (SIGKILL) between prepare and commit: the commit fails with
// XAER_RMFAIL, and after the restart a new connection finds the branch in
// doubt and commits it. Through the DTC switch, whose workers own the
// connections.
TEST_P(SqlXaRecovery, AServerKilledBetweenPrepareAndCommitIsRecovered) {
  const Module& m = module();
  xa_switch_t* sw = nullptr;
  ASSERT_EQ(m.getXaSwitch(0, &sw), 0);
  std::string info = openString(db(), "crash");
  std::string name = "crash";
  std::string empty;
  ASSERT_EQ(sw->xa_open_entry(text(info), 41, TMNOFLAGS), XA_OK);
  XID xid = makeXid(0x5a50, "crash-1", "b");
  ASSERT_EQ(sw->xa_start_entry(&xid, 41, TMNOFLAGS), XA_OK);
  ASSERT_EQ(execute(db().kind, m.hkXaoSvcCtx(41, text(name)),
                    "INSERT INTO " + table() + " VALUES (41, 'crash')"),
            "");
  ASSERT_EQ(sw->xa_end_entry(&xid, 41, TMSUCCESS), XA_OK);
  ASSERT_EQ(sw->xa_prepare_entry(&xid, 41, TMNOFLAGS), XA_OK);

  ASSERT_TRUE(serverCommand("kill", db()));
  EXPECT_EQ(sw->xa_commit_entry(&xid, 41, TMNOFLAGS), XAER_RMFAIL);
  EXPECT_EQ(sw->xa_close_entry(text(empty), 41, TMNOFLAGS), XA_OK);
  EXPECT_NE(sw->xa_open_entry(text(info), 42, TMNOFLAGS), XA_OK);  // no server
  sw->xa_close_entry(text(empty), 42, TMNOFLAGS);
  ASSERT_TRUE(serverCommand("up", db()));

  ASSERT_EQ(sw->xa_open_entry(text(info), 43, TMNOFLAGS), XA_OK);
  XID found[8];
  int count = sw->xa_recover_entry(found, 8, 43, TMSTARTRSCAN | TMENDRSCAN);
  ASSERT_EQ(count, 1);
  // The DTC switch sends every XID with a 32-byte branch qualifier.
  EXPECT_TRUE(sameXid(found[0], xid)) << describe(found[0]) << " vs " << describe(xid);
  EXPECT_EQ(sw->xa_commit_entry(&found[0], 43, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw->xa_recover_entry(found, 8, 43, TMSTARTRSCAN | TMENDRSCAN), 0);
  EXPECT_EQ(sw->xa_close_entry(text(empty), 43, TMNOFLAGS), XA_OK);
  reopen();
  EXPECT_EQ(rows("id = 41"), "1");
}

INSTANTIATE_TEST_SUITE_P(BothDatabases, SqlXaRecovery, testing::Values(&kPostgres, &kMariaDb),
                         [](const testing::TestParamInfo<const Database*>& info) {
                           return std::string(info.param->label);
                         });

// PostgreSQL without prepared transactions cannot take part: xa_open says so.
TEST(SqlXaPostgres, MaxPreparedTransactionsOfZeroIsRefusedAtOpen) {
  ASSERT_NE(sqlxa().sw, nullptr);
  ASSERT_TRUE(serverCommand("kill", kPostgres));
  setenv("ZP_PG_MAX_PREPARED", "0", 1);
  bool up = serverCommand("up", kPostgres);
  unsetenv("ZP_PG_MAX_PREPARED");
  ASSERT_TRUE(up);
  std::string info = openString(kPostgres, "zero");
  EXPECT_EQ(sqlxa().sw->xa_open_entry(text(info), 1, TMNOFLAGS), XAER_RMERR);
  ASSERT_TRUE(serverCommand("kill", kPostgres));
  ASSERT_TRUE(serverCommand("up", kPostgres));
  EXPECT_EQ(sqlxa().sw->xa_open_entry(text(info), 1, TMNOFLAGS), XA_OK);
  std::string empty;
  sqlxa().sw->xa_close_entry(text(empty), 1, TMNOFLAGS);
}

}  // namespace
}  // namespace test
}  // namespace zp
