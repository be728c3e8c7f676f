// The reference resource manager, loaded by file name and driven through its
// exported `xaosw` entries: the branch state table call by call, open-string
// checks, recovery scans over the journal, and the connection handles.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "tools/refrm/refrm.h"

namespace zp {
namespace {

// The library and its exports, loaded once for the whole program.
struct Refrm {
  xa_switch_t* sw = nullptr;
  void* (*env)(char*) = nullptr;
  void* (*svcCtx)(char*) = nullptr;
  int (*work)(void*, const char*) = nullptr;
  int (*handleInfo)(void*, int*, uint32_t*) = nullptr;
  uint32_t (*callThread)(int) = nullptr;
  int (*branchState)(int, const XID*) = nullptr;
};

template <typename T>
void bind(platform::Library* library, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(platform::librarySymbol(library, name));
}

// The journal folder the test run names; emptied before the library is
// loaded, so that every run, a repeated one too, starts without journals.
std::string journalFolder() {
  char folder[1024] = {0};
  platform::environmentGet(REFRM_JOURNAL_DIR_VARIABLE, folder, sizeof(folder));
  return folder;
}

const Refrm& refrm() {
  static Refrm loaded = [] {
    Refrm r;
    std::error_code ignored;
    if (!journalFolder().empty()) std::filesystem::remove_all(journalFolder(), ignored);
    platform::Library* library = platform::libraryLoad(ZP_REFRM_FILE);
    if (library == nullptr) return r;
    r.sw = static_cast<xa_switch_t*>(platform::librarySymbol(library, "xaosw"));
    bind(library, "xaoEnv", &r.env);
    bind(library, "xaoSvcCtx", &r.svcCtx);
    bind(library, "refrm_work", &r.work);
    bind(library, "refrm_handle_info", &r.handleInfo);
    bind(library, "refrm_call_thread", &r.callThread);
    bind(library, "refrm_branch_state", &r.branchState);
    return r;
  }();
  return loaded;
}

class RefrmTest : public testing::Test {
 protected:
  void SetUp() override {
    const Refrm& r = refrm();
    ASSERT_TRUE(r.sw && r.env && r.svcCtx && r.work && r.handleInfo && r.callThread &&
                r.branchState)
        << "the reference resource manager or one of its exports is missing: " << ZP_REFRM_FILE;
  }
  xa_switch_t* sw() const { return refrm().sw; }
};

XID makeXid(long formatId, const std::string& gtrid, const std::string& bqual) {
  XID xid;
  std::memset(&xid, 0, sizeof(xid));
  xid.formatID = formatId;
  xid.gtrid_length = static_cast<long>(gtrid.size());
  xid.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(xid.data, gtrid.data(), gtrid.size());
  std::memcpy(xid.data + gtrid.size(), bqual.data(), bqual.size());
  return xid;
}

std::string openString(const std::string& db, const std::string& database) {
  return "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=" + db + "+SqlNet=" + database;
}

int openRmid(xa_switch_t* sw, int rmid, const std::string& db,
             const std::string& database = "states") {
  std::string info = openString(db, database);
  return sw->xa_open_entry(&info[0], rmid, TMNOFLAGS);
}

// Does one unit of work in the branch that rmid's connection (DB name db) has active.
int workOn(const std::string& db) {
  std::string name = db;
  return refrm().work(refrm().svcCtx(&name[0]), "update");
}

// ---------------------------------------------------------------------------
// The state table.

enum Start { kNone, kActive, kSuspended, kIdle, kIdleReadOnly, kRollbackOnly, kPrepared };
enum Call {
  kStart,
  kJoin,
  kResume,
  kEndOk,
  kEndSuspend,
  kEndFail,
  kPrepare,
  kCommit,
  kCommitOnePhase,
  kRollback,
  kForget,
  kCallCount
};

const char* const kStartNames[] = {"none",           "active",        "suspended", "idle",
                                   "idle read-only", "rollback-only", "prepared"};
const char* const kCallNames[] = {
    "start",   "start TMJOIN", "start TMRESUME",    "end TMSUCCESS", "end TMSUSPEND", "end TMFAIL",
    "prepare", "commit",       "commit TMONEPHASE", "rollback",      "forget"};

// Brings a fresh branch to a state by the calls an application would make.
void reach(xa_switch_t* sw, int rmid, const std::string& db, XID* xid, Start state) {
  if (state == kNone) return;
  ASSERT_EQ(sw->xa_start_entry(xid, rmid, TMNOFLAGS), XA_OK);
  if (state != kIdleReadOnly && state != kSuspended) {
    ASSERT_EQ(workOn(db), XA_OK);
  }
  if (state == kActive) return;
  const long end = state == kSuspended ? TMSUSPEND : state == kRollbackOnly ? TMFAIL : TMSUCCESS;
  ASSERT_EQ(sw->xa_end_entry(xid, rmid, end), state == kRollbackOnly ? XA_RBROLLBACK : XA_OK);
  if (state == kPrepared) {
    ASSERT_EQ(sw->xa_prepare_entry(xid, rmid, TMNOFLAGS), XA_OK);
  }
}

int make(xa_switch_t* sw, XID* xid, int rmid, Call call) {
  switch (call) {
    case kStart:
      return sw->xa_start_entry(xid, rmid, TMNOFLAGS);
    case kJoin:
      return sw->xa_start_entry(xid, rmid, TMJOIN);
    case kResume:
      return sw->xa_start_entry(xid, rmid, TMRESUME);
    case kEndOk:
      return sw->xa_end_entry(xid, rmid, TMSUCCESS);
    case kEndSuspend:
      return sw->xa_end_entry(xid, rmid, TMSUSPEND);
    case kEndFail:
      return sw->xa_end_entry(xid, rmid, TMFAIL);
    case kPrepare:
      return sw->xa_prepare_entry(xid, rmid, TMNOFLAGS);
    case kCommit:
      return sw->xa_commit_entry(xid, rmid, TMNOFLAGS);
    case kCommitOnePhase:
      return sw->xa_commit_entry(xid, rmid, TMONEPHASE);
    case kRollback:
      return sw->xa_rollback_entry(xid, rmid, TMNOFLAGS);
    case kForget:
      return sw->xa_forget_entry(xid, rmid, TMNOFLAGS);
    case kCallCount:
      break;
  }
  return 0;
}

struct Outcome {
  int result;
  int state;  // REFRM_ state afterwards
};

constexpr int N = REFRM_NONE, A = REFRM_ACTIVE, S = REFRM_SUSPENDED, I = REFRM_IDLE,
              R = REFRM_ROLLBACK_ONLY, P = REFRM_PREPARED;
constexpr int OK = XA_OK, NOTA = XAER_NOTA, PROTO = XAER_PROTO, DUP = XAER_DUPID,
              RB = XA_RBROLLBACK, RDONLY = XA_RDONLY;

const int kStartStates[] = {N, A, S, I, I, R, P};

// Rows: starting state; columns: the calls in kCallNames order.
// clang-format off
const Outcome kTable[][kCallCount] = {
  // start       join        resume      end ok      end susp    end fail    prepare      commit      commit 1p   rollback    forget
  {{OK, A},    {NOTA, N},  {NOTA, N},  {NOTA, N},  {NOTA, N},  {NOTA, N},  {NOTA, N},   {NOTA, N},  {NOTA, N},  {NOTA, N},  {NOTA, N}},   // none
  {{PROTO, A}, {PROTO, A}, {PROTO, A}, {OK, I},    {OK, S},    {RB, R},    {PROTO, A},  {PROTO, A}, {PROTO, A}, {PROTO, A}, {PROTO, A}},  // active
  {{DUP, S},   {PROTO, S}, {OK, A},    {OK, I},    {PROTO, S}, {RB, R},    {PROTO, S},  {PROTO, S}, {PROTO, S}, {OK, N},    {PROTO, S}},  // suspended
  {{DUP, I},   {OK, A},    {PROTO, I}, {PROTO, I}, {PROTO, I}, {PROTO, I}, {OK, P},     {PROTO, I}, {OK, N},    {OK, N},    {PROTO, I}},  // idle
  {{DUP, I},   {OK, A},    {PROTO, I}, {PROTO, I}, {PROTO, I}, {PROTO, I}, {RDONLY, N}, {PROTO, I}, {OK, N},    {OK, N},    {PROTO, I}},  // idle read-only
  {{DUP, R},   {RB, R},    {PROTO, R}, {PROTO, R}, {PROTO, R}, {PROTO, R}, {RB, N},     {PROTO, R}, {RB, N},    {OK, N},    {PROTO, R}},  // rollback-only
  {{DUP, P},   {PROTO, P}, {PROTO, P}, {PROTO, P}, {PROTO, P}, {PROTO, P}, {PROTO, P},  {OK, N},    {PROTO, P}, {OK, N},    {PROTO, P}},  // prepared
};
// clang-format on

TEST_F(RefrmTest, EachCallInEachBranchStateGetsTheStateTablesAnswer) {
  int rmid = 1000;
  for (int state = kNone; state <= kPrepared; ++state) {
    for (int call = 0; call < kCallCount; ++call, ++rmid) {
      const std::string row =
          std::string(kCallNames[call]) + " in branch state \"" + kStartNames[state] + "\"";
      const std::string db = "states" + std::to_string(rmid);
      ASSERT_EQ(openRmid(sw(), rmid, db), XA_OK) << row;
      XID xid = makeXid(0x5a50, "table-" + std::to_string(rmid), "b");
      reach(sw(), rmid, db, &xid, static_cast<Start>(state));
      ASSERT_EQ(refrm().branchState(rmid, &xid), kStartStates[state]) << row << " (setting up)";
      const Outcome want = kTable[state][call];
      EXPECT_EQ(make(sw(), &xid, rmid, static_cast<Call>(call)), want.result) << row;
      EXPECT_EQ(refrm().branchState(rmid, &xid), want.state) << row << " (state afterwards)";
    }
  }
}

// ---------------------------------------------------------------------------
// Calls out of place: before an open, with bad flags or identifiers.

TEST_F(RefrmTest, CallsOnAnRmidThatIsNotOpenAreProtocolErrors) {
  XID xid = makeXid(1, "closed", "b");
  XID list[4];
  int handle = 0, retval = 0;
  const struct {
    const char* name;
    int result;
    int want;
  } rows[] = {
      {"start", sw()->xa_start_entry(&xid, 7, TMNOFLAGS), XAER_PROTO},
      {"end", sw()->xa_end_entry(&xid, 7, TMSUCCESS), XAER_PROTO},
      {"prepare", sw()->xa_prepare_entry(&xid, 7, TMNOFLAGS), XAER_PROTO},
      {"commit", sw()->xa_commit_entry(&xid, 7, TMNOFLAGS), XAER_PROTO},
      {"rollback", sw()->xa_rollback_entry(&xid, 7, TMNOFLAGS), XAER_PROTO},
      {"recover", sw()->xa_recover_entry(list, 4, 7, TMSTARTRSCAN), XAER_PROTO},
      {"forget", sw()->xa_forget_entry(&xid, 7, TMNOFLAGS), XAER_PROTO},
      {"complete", sw()->xa_complete_entry(&handle, &retval, 7, TMNOFLAGS), XAER_PROTO},
      {"close", sw()->xa_close_entry(nullptr, 7, TMNOFLAGS), XA_OK},
  };
  for (const auto& row : rows) EXPECT_EQ(row.result, row.want) << row.name;
  EXPECT_EQ(refrm().callThread(7), platform::currentThreadId());
  EXPECT_EQ(refrm().callThread(8), 0u) << "an rmid without calls";
}

TEST_F(RefrmTest, OpenStringsItCannotParseAreRefused) {
  const struct {
    const char* info;
    int want;
  } rows[] = {
      {"ORACLE_XA", XA_OK},
      {"oracle_xa+acc=p/u/+db=Lower+sestm=5+sqlnet=x+threads=TRUE", XA_OK},
      {"ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=D+SqlNet=orcl+Threads=false", XA_OK},
      {"", XAER_INVAL},
      {"ORACLE", XAER_INVAL},
      {"XA_ORACLE+DB=D", XAER_INVAL},
      {"ORACLE_XA junk+DB=D", XAER_INVAL},
      {"ORACLE_XA+DB", XAER_INVAL},
      {"ORACLE_XA+DB=", XAER_INVAL},
      {"ORACLE_XA+=x", XAER_INVAL},
      {"ORACLE_XA+", XAER_INVAL},
      {"ORACLE_XA+Acc=scott/tiger", XAER_INVAL},
      {"ORACLE_XA+Acc=P//tiger", XAER_INVAL},
      {"ORACLE_XA+SesTm=sixty", XAER_INVAL},
      {"ORACLE_XA+Threads=maybe", XAER_INVAL},
      {"ORACLE_XA+Trace=2", XAER_INVAL},
      {"ORACLE_XA+LogDir=/tmp", XAER_INVAL},
  };
  int rmid = 2000;
  for (const auto& row : rows) {
    std::string info = row.info;
    EXPECT_EQ(sw()->xa_open_entry(&info[0], rmid, TMNOFLAGS), row.want) << '"' << row.info << '"';
    sw()->xa_close_entry(&info[0], rmid++, TMNOFLAGS);
  }
  EXPECT_EQ(sw()->xa_open_entry(nullptr, rmid, TMNOFLAGS), XAER_INVAL) << "null open string";
}

TEST_F(RefrmTest, OpenAndCloseFollowTheConnectionsState) {
  ASSERT_EQ(openRmid(sw(), 30, "conn"), XA_OK);
  EXPECT_EQ(openRmid(sw(), 30, "conn"), XA_OK) << "the same open again";
  EXPECT_EQ(openRmid(sw(), 30, "other"), XAER_PROTO) << "a different connection under an open rmid";
  XID xid = makeXid(1, "closing", "");
  ASSERT_EQ(sw()->xa_start_entry(&xid, 30, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw()->xa_close_entry(nullptr, 30, TMNOFLAGS), XAER_PROTO)
      << "close with an active branch";
  ASSERT_EQ(sw()->xa_end_entry(&xid, 30, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw()->xa_close_entry(nullptr, 30, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw()->xa_close_entry(nullptr, 30, TMNOFLAGS), XA_OK) << "a second close";
  EXPECT_EQ(sw()->xa_prepare_entry(&xid, 30, TMNOFLAGS), XAER_PROTO) << "prepare after close";
  EXPECT_EQ(openRmid(sw(), 30, "other"), XA_OK) << "reopened under another name";
  EXPECT_EQ(sw()->xa_rollback_entry(&xid, 30, TMNOFLAGS), XA_OK)
      << "the idle branch outlives the close";
}

TEST_F(RefrmTest, BadFlagsAndIdentifiersAreInvalid) {
  ASSERT_EQ(openRmid(sw(), 40, "flags"), XA_OK);
  XID good = makeXid(1, "flags", "b");
  XID nullXid = makeXid(-1, "g", "b");
  XID noGtrid = makeXid(1, "", "b");
  XID longGtrid = makeXid(1, std::string(65, 'g'), "b");
  XID longBqual = makeXid(1, "g", std::string(65, 'b'));
  XID negative = makeXid(1, "g", "b");
  negative.bqual_length = -1;
  XID list[2];
  int handle = 0;
  const struct {
    const char* name;
    int result;
  } rows[] = {
      {"start TMJOIN|TMRESUME", sw()->xa_start_entry(&good, 40, TMJOIN | TMRESUME)},
      {"start TMASYNC", sw()->xa_start_entry(&good, 40, TMASYNC)},
      {"start null XID pointer", sw()->xa_start_entry(nullptr, 40, TMNOFLAGS)},
      {"start formatID -1", sw()->xa_start_entry(&nullXid, 40, TMNOFLAGS)},
      {"start empty gtrid", sw()->xa_start_entry(&noGtrid, 40, TMNOFLAGS)},
      {"start 65-byte gtrid", sw()->xa_start_entry(&longGtrid, 40, TMNOFLAGS)},
      {"start 65-byte bqual", sw()->xa_start_entry(&longBqual, 40, TMNOFLAGS)},
      {"start negative bqual", sw()->xa_start_entry(&negative, 40, TMNOFLAGS)},
      {"end without flags", sw()->xa_end_entry(&good, 40, TMNOFLAGS)},
      {"end TMSUCCESS|TMFAIL", sw()->xa_end_entry(&good, 40, TMSUCCESS | TMFAIL)},
      {"prepare TMONEPHASE", sw()->xa_prepare_entry(&good, 40, TMONEPHASE)},
      {"commit TMJOIN", sw()->xa_commit_entry(&good, 40, TMJOIN)},
      {"rollback TMFAIL", sw()->xa_rollback_entry(&good, 40, TMFAIL)},
      {"recover TMJOIN", sw()->xa_recover_entry(list, 2, 40, TMSTARTRSCAN | TMJOIN)},
      {"recover negative count", sw()->xa_recover_entry(list, -1, 40, TMSTARTRSCAN)},
      {"recover null array", sw()->xa_recover_entry(nullptr, 2, 40, TMSTARTRSCAN)},
      {"recover without an open scan", sw()->xa_recover_entry(list, 2, 40, TMNOFLAGS)},
      {"open TMASYNC", sw()->xa_open_entry(nullptr, 41, TMASYNC)},
  };
  for (const auto& row : rows) EXPECT_EQ(row.result, XAER_INVAL) << row.name;
  EXPECT_EQ(sw()->xa_complete_entry(&handle, &handle, 40, TMNOFLAGS), XAER_PROTO)
      << "nothing is outstanding";
  EXPECT_EQ(refrm().branchState(40, &good), REFRM_NONE) << "no call made a branch";
}

TEST_F(RefrmTest, AConnectionHoldsOneActiveBranchAtATime) {
  ASSERT_EQ(openRmid(sw(), 50, "one"), XA_OK);
  ASSERT_EQ(openRmid(sw(), 51, "two"), XA_OK);
  XID first = makeXid(1, "first", "b"), second = makeXid(1, "second", "b");
  ASSERT_EQ(sw()->xa_start_entry(&first, 50, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw()->xa_start_entry(&second, 50, TMNOFLAGS), XAER_PROTO)
      << "second branch on a busy connection";
  EXPECT_EQ(sw()->xa_start_entry(&second, 51, TMNOFLAGS), XA_OK)
      << "second branch on another connection";
  EXPECT_EQ(sw()->xa_end_entry(&first, 51, TMSUCCESS), XAER_PROTO)
      << "end by a connection it is not on";
  EXPECT_EQ(sw()->xa_end_entry(&first, 50, TMSUSPEND), XA_OK);
  EXPECT_EQ(sw()->xa_end_entry(&second, 51, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw()->xa_start_entry(&first, 51, TMRESUME), XA_OK) << "resumed on another connection";
  EXPECT_EQ(sw()->xa_end_entry(&first, 51, TMSUCCESS), XA_OK);
}

// ---------------------------------------------------------------------------
// Handles and work.

TEST_F(RefrmTest, HandlesIdentifyTheConnectionAndWorkMarksTheBranch) {
  ASSERT_EQ(openRmid(sw(), 60, "handles"), XA_OK);
  char name[] = "handles", unknown[] = "nobody";
  void* env = refrm().env(name);
  void* svc = refrm().svcCtx(name);
  ASSERT_NE(env, nullptr);
  ASSERT_NE(svc, nullptr);
  EXPECT_NE(env, svc);
  EXPECT_EQ(refrm().env(unknown), nullptr);
  EXPECT_EQ(refrm().svcCtx(nullptr), nullptr) << "no connection without a DB name is open";
  int rmid = 0;
  uint32_t thread = 0;
  ASSERT_EQ(refrm().handleInfo(svc, &rmid, &thread), XA_OK);
  EXPECT_EQ(rmid, 60);
  EXPECT_EQ(thread, platform::currentThreadId());
  EXPECT_EQ(refrm().handleInfo(name, &rmid, &thread), XAER_INVAL) << "a pointer that is no handle";

  XID xid = makeXid(1, "work", "b");
  EXPECT_EQ(refrm().work(svc, "outside"), XAER_PROTO) << "work outside a branch";
  ASSERT_EQ(sw()->xa_start_entry(&xid, 60, TMNOFLAGS), XA_OK);
  EXPECT_EQ(refrm().work(env, "insert"), XAER_INVAL) << "work through the environment handle";
  EXPECT_EQ(refrm().work(svc, "insert"), XA_OK);
  ASSERT_EQ(sw()->xa_end_entry(&xid, 60, TMSUCCESS), XA_OK);
  EXPECT_EQ(sw()->xa_prepare_entry(&xid, 60, TMNOFLAGS), XA_OK)
      << "a branch that did work is prepared";
  EXPECT_EQ(sw()->xa_commit_entry(&xid, 60, TMNOFLAGS), XA_OK);
  ASSERT_EQ(sw()->xa_close_entry(nullptr, 60, TMNOFLAGS), XA_OK);
  EXPECT_EQ(refrm().svcCtx(name), nullptr) << "after close";
  EXPECT_EQ(refrm().work(svc, "late"), XAER_PROTO)
      << "work through the handle of a closed connection";
}

// ---------------------------------------------------------------------------
// Recovery and the journal.

std::string journalPath(const std::string& database) {
  return (std::filesystem::path(journalFolder()) / (database + ".journal")).string();
}

std::vector<std::string> recoverAll(xa_switch_t* sw, int rmid, long chunk) {
  std::vector<std::string> found;
  std::vector<XID> list(static_cast<size_t>(chunk));
  long flags = TMSTARTRSCAN;
  for (;;) {
    const int n = sw->xa_recover_entry(list.data(), chunk, rmid, flags);
    if (n < 0) return {"error " + std::to_string(n)};
    for (int i = 0; i < n; ++i)
      found.emplace_back(list[static_cast<size_t>(i)].data,
                         list[static_cast<size_t>(i)].gtrid_length);
    if (n < chunk) break;
    flags = TMNOFLAGS;
  }
  sw->xa_recover_entry(list.data(), 0, rmid, TMENDRSCAN);
  return found;
}

void prepareWithWork(xa_switch_t* sw, int rmid, const std::string& db, XID* xid) {
  ASSERT_EQ(sw->xa_start_entry(xid, rmid, TMNOFLAGS), XA_OK);
  ASSERT_EQ(workOn(db), XA_OK);
  ASSERT_EQ(sw->xa_end_entry(xid, rmid, TMSUCCESS), XA_OK);
  ASSERT_EQ(sw->xa_prepare_entry(xid, rmid, TMNOFLAGS), XA_OK);
}

TEST_F(RefrmTest, RecoverListsPreparedBranchesInChunksUntilTheyAreFinished) {
  ASSERT_EQ(openRmid(sw(), 70, "recover", "recoverdb"), XA_OK);
  std::vector<XID> xids;
  for (const char* gtrid : {"in-doubt-1", "in-doubt-2", "in-doubt-3"})
    xids.push_back(makeXid(7, gtrid, "q"));
  for (XID& xid : xids) prepareWithWork(sw(), 70, "recover", &xid);
  XID idle = makeXid(7, "only-idle", "q");
  ASSERT_EQ(sw()->xa_start_entry(&idle, 70, TMNOFLAGS), XA_OK);
  ASSERT_EQ(sw()->xa_end_entry(&idle, 70, TMSUCCESS), XA_OK);

  const std::vector<std::string> all = {"in-doubt-1", "in-doubt-2", "in-doubt-3"};
  EXPECT_EQ(recoverAll(sw(), 70, 1), all) << "one at a time";
  EXPECT_EQ(recoverAll(sw(), 70, 10), all) << "all at once";
  XID list[2];
  EXPECT_EQ(sw()->xa_recover_entry(list, 2, 70, TMSTARTRSCAN | TMENDRSCAN), 2);
  EXPECT_EQ(sw()->xa_recover_entry(list, 2, 70, TMNOFLAGS), XAER_INVAL) << "the scan was ended";

  ASSERT_EQ(sw()->xa_commit_entry(&xids[0], 70, TMNOFLAGS), XA_OK);
  ASSERT_EQ(sw()->xa_rollback_entry(&xids[2], 70, TMNOFLAGS), XA_OK);
  EXPECT_EQ(recoverAll(sw(), 70, 10), std::vector<std::string>{"in-doubt-2"});
  ASSERT_EQ(sw()->xa_commit_entry(&xids[1], 70, TMNOFLAGS), XA_OK);
  EXPECT_EQ(recoverAll(sw(), 70, 10), std::vector<std::string>{});
}

TEST_F(RefrmTest, ABranchPreparedByAnotherProcessIsRecoveredAndCommitted) {
  // A process that prepared this branch and ended before committing left
  // exactly this line in the journal of database "crashdb".
  XID xid = makeXid(9, "other-process", "bq");
  {
    std::ofstream journal(journalPath("crashdb"), std::ios::app);
    journal << "prepared 9 13 2 6f746865722d70726f63657373"
            << "6271"
            << "\n";
  }
  ASSERT_EQ(openRmid(sw(), 80, "crash", "crashdb"), XA_OK);
  EXPECT_EQ(refrm().branchState(80, &xid), REFRM_PREPARED);
  EXPECT_EQ(recoverAll(sw(), 80, 4), std::vector<std::string>{"other-process"});
  EXPECT_EQ(sw()->xa_commit_entry(&xid, 80, TMONEPHASE), XAER_PROTO)
      << "one-phase commit of a prepared branch";
  EXPECT_EQ(sw()->xa_commit_entry(&xid, 80, TMNOFLAGS), XA_OK);
  EXPECT_EQ(recoverAll(sw(), 80, 4), std::vector<std::string>{});
  EXPECT_EQ(sw()->xa_commit_entry(&xid, 80, TMNOFLAGS), XAER_NOTA) << "committed twice";

  std::ifstream journal(journalPath("crashdb"));
  std::string line, last;
  while (std::getline(journal, line)) last = line;
  EXPECT_EQ(last, "finished 9 13 2 6f746865722d70726f636573736271");
}

TEST_F(RefrmTest, ARecoverScanSeesBranchesPreparedElsewhereSinceTheOpen) {
  ASSERT_EQ(openRmid(sw(), 90, "late", "latedb"), XA_OK);
  EXPECT_EQ(recoverAll(sw(), 90, 4), std::vector<std::string>{});
  { std::ofstream(journalPath("latedb"), std::ios::app) << "prepared 1 4 0 6c617465\n"; }
  EXPECT_EQ(recoverAll(sw(), 90, 4), std::vector<std::string>{"late"});
  XID xid = makeXid(1, "late", "");
  EXPECT_EQ(sw()->xa_rollback_entry(&xid, 90, TMNOFLAGS), XA_OK);
}

TEST_F(RefrmTest, AFinishAfterATornLastLineIsNotLost) {
  // A process that ended in the middle of an append left a last line without
  // its newline; the commit's line must not be read as that line's tail.
  ASSERT_EQ(openRmid(sw(), 95, "torn", "torndb"), XA_OK);
  { std::ofstream(journalPath("torndb"), std::ios::app) << "prepared 1 4 0 746f726e"; }
  EXPECT_EQ(recoverAll(sw(), 95, 4), std::vector<std::string>{"torn"});
  XID xid = makeXid(1, "torn", "");
  EXPECT_EQ(sw()->xa_commit_entry(&xid, 95, TMNOFLAGS), XA_OK);
  EXPECT_EQ(recoverAll(sw(), 95, 4), std::vector<std::string>{}) << "the journal read back";
}

}  // namespace
}  // namespace zp
