// The switch from GetXaSwitch, driven as a transaction manager drives it,
// against the stand-in client. Each suite runs with the folder of stand-ins
// its name gives (Dtc_<folder>), each case in a process of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "dtc_driver.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "testlib/threads.h"
#include "xa/client_library.h"
#include "xa/dtc_switch.h"
#include "xa/switch_record.h"

namespace zp {
namespace {

using test::clientCallsFor;
using test::clientCallsOf;
using test::closeRm;
using test::dtcSwitch;
using test::hasWorker;
using test::openRm;
using test::sampleXid;
using test::StandinControl;

const int32_t kEPointer = static_cast<int32_t>(0x80004003u);

int markerOpen(char*, int, long) { return 99; }

TEST(Dtc_none, SwitchRecordBytes) {
  // A null out-pointer is refused before anything is written.
  XaEntrySet marker = {};
  marker.open = markerOpen;
  xa_switch_t* record = fill_switch_record(marker);
  EXPECT_EQ(GetXaSwitch(0, nullptr), kEPointer);
  EXPECT_EQ(record->xa_open_entry, markerOpen);

  xa_switch_t* first = nullptr;
  ASSERT_EQ(GetXaSwitch(0xFFFFFFFFu, &first), 0);
  ASSERT_EQ(first, record);
  // Every byte: the name with its zero tail, flags 0, version 1, the entries.
  xa_switch_t expected;
  std::memset(&expected, 0, sizeof expected);
  std::memcpy(expected.name, "Oracle8 Server", 15);
  expected.version = 1;
  expected.xa_open_entry = dtc_xa_open;
  expected.xa_close_entry = dtc_xa_close;
  expected.xa_start_entry = dtc_xa_start;
  expected.xa_end_entry = dtc_xa_end;
  expected.xa_rollback_entry = dtc_xa_rollback;
  expected.xa_prepare_entry = dtc_xa_prepare;
  expected.xa_commit_entry = dtc_xa_commit;
  expected.xa_recover_entry = dtc_xa_recover;
  expected.xa_forget_entry = dtc_xa_forget;
  expected.xa_complete_entry = dtc_xa_complete;
  EXPECT_EQ(std::memcmp(first, &expected, sizeof expected), 0);

  // Again: the same address and the same bytes.
  xa_switch_t copy;
  std::memcpy(&copy, first, sizeof copy);
  xa_switch_t* second = nullptr;
  EXPECT_EQ(GetXaSwitch(0, &second), 0);
  EXPECT_EQ(second, first);
  EXPECT_EQ(std::memcmp(&copy, second, sizeof copy), 0);
}

TEST(Dtc_none, OpenWithoutClientFailsAndTriesEveryCandidateAgain) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    fault::resetCalls(fault::Point::kLibraryLoad);
    EXPECT_EQ(openRm(1), XAER_RMERR) << "attempt " << attempt;
    EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), 4u) << "attempt " << attempt;
  }
  EXPECT_FALSE(hasWorker(1));
  EXPECT_EQ(closeRm(1), XAER_RMERR);
}

// Opens and closes one rmid and checks which candidate the module holds and
// which string the client's close received.
void expectLoadedAndCloseString(const char* candidate, const char* closeText) {
  ASSERT_EQ(openRm(3, "ORACLE_XA+DB=ORCL+Trace=1"), XA_OK);
  EXPECT_EQ(StandinControl::loaded().name(), candidate);
  ASSERT_EQ(closeRm(3), XA_OK);
  const auto closes = clientCallsOf(kStandinClose);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_STREQ(closes[0].text, closeText);
}

TEST(Dtc_all, FirstCandidateLoadsAndCloseGetsTheOpenString) {
  expectLoadedAndCloseString(kClientCandidates[0], "ORACLE_XA+DB=ORCL");
}

TEST(Dtc_oraclient8, SecondCandidateSetsTheCloseString) {
  expectLoadedAndCloseString(kClientCandidates[1], "This_is_close_string");
}

TEST(Dtc_oraclient9, ThirdCandidateBeforeTheFourth) {
  expectLoadedAndCloseString(kClientCandidates[2], "ORACLE_XA+DB=ORCL");
}

TEST(Dtc_oraclient10, FourthCandidate) {
  expectLoadedAndCloseString(kClientCandidates[3], "ORACLE_XA+DB=ORCL");
}

TEST(Dtc_xa80_noswitch, CandidateWithoutSwitchFailsEveryOpen) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    fault::resetCalls(fault::Point::kLibraryLoad);
    EXPECT_EQ(openRm(4), XAER_RMERR) << "attempt " << attempt;
    EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), attempt == 0 ? 1u : 0u)
        << "attempt " << attempt;
    EXPECT_FALSE(hasWorker(4)) << "attempt " << attempt;
  }
  EXPECT_EQ(StandinControl::loaded().name(), kClientCandidates[0]);
  EXPECT_TRUE(StandinControl::loaded().calls().empty());
}

TEST(Dtc_xa80, ClientReceivesTheFilteredOpenString) {
  const std::string longest = "ORACLE_XA+DB=" + std::string(MAXINFOSIZE - 1 - 13, 'x');
  const struct Row {
    const char* name;
    const char* info;  // null: a null xa_info
    int result;
    const char* received;
  } rows[] = {
      {"prefix and copied options", "ORACLE_XA+Acc=P/u/p+SesTM=30+DB=ORCL+SqlNet=net+Threads=true",
       XA_OK, "ORACLE_XA+Acc=P/u/p+SesTM=30+DB=ORCL+SqlNet=net+Threads=true"},
      {"lower-case prefix and keywords", "oracle_xa+db=ORCL+sestm=5", XA_OK,
       "oracle_xa+db=ORCL+sestm=5"},
      {"trace options taken out",
       "ORACLE_XA+Trace=2+DB=ORCL+TraceFile=f.log+TraceDll32=a+TraceDll64=b", XA_OK,
       "ORACLE_XA+DB=ORCL"},
      {"unknown options dropped", "ORACLE_XA+Foo=1+DB=ORCL+LogDir=x", XA_OK, "ORACLE_XA+DB=ORCL"},
      {"text before the first option dropped", "ORACLE_XA junk+DB=ORCL", XA_OK,
       "ORACLE_XA+DB=ORCL"},
      {"keyword without value before more options", "ORACLE_XA+Threads+DB=a", XA_OK,
       "ORACLE_XA+DB=a"},
      {"missing prefix", "ORACLE+DB=ORCL", XA_OK, ""},
      {"empty string", "", XA_OK, ""},
      {"null string", nullptr, XA_OK, ""},
      {"longest that fits", longest.c_str(), XA_OK, longest.c_str()},
  };
  int rmid = 100;
  for (const Row& row : rows) {
    ++rmid;
    std::vector<char> info;
    if (row.info != nullptr) info.assign(row.info, row.info + std::strlen(row.info) + 1);
    EXPECT_EQ(dtcSwitch()->xa_open_entry(row.info ? info.data() : nullptr, rmid, TMNOFLAGS),
              row.result)
        << row.name;
    const auto calls = clientCallsFor(rmid);
    ASSERT_EQ(calls.size(), 1u) << row.name;
    EXPECT_EQ(calls[0].operation, kStandinOpen) << row.name;
    EXPECT_STREQ(calls[0].text, row.received) << row.name;
    EXPECT_EQ(closeRm(rmid), XA_OK) << row.name;
  }
}

TEST(Dtc_xa80, OpenStringTooLongIsRefusedWhole) {
  const struct Row {
    const char* name;
    std::string info;
    int result;
  } rows[] = {
      {"filtered form one character too long", "ORACLE_XA+DB=" + std::string(MAXINFOSIZE - 13, 'x'),
       XAER_RMERR},
      {"long source whose filtered form fits",
       "ORACLE_XA+Foo=" + std::string(2 * MAXINFOSIZE, 'y') + "+DB=ORCL", XA_OK},
  };
  int rmid = 200;
  for (const Row& row : rows) {
    ++rmid;
    EXPECT_EQ(openRm(rmid, row.info), row.result) << row.name;
    const size_t opens = row.result == XA_OK ? 1 : 0;
    EXPECT_EQ(clientCallsFor(rmid).size(), opens) << row.name << ": client opens";
    EXPECT_EQ(hasWorker(rmid), row.result == XA_OK) << row.name;
    EXPECT_EQ(closeRm(rmid), row.result == XA_OK ? XA_OK : XAER_RMERR) << row.name;
  }
}

TEST(Dtc_xa80, EveryCallOfAnRmidRunsOnItsWorkerThread) {
  const int rmid = 7;
  ASSERT_EQ(openRm(rmid), XA_OK);
  // Three caller threads in turn, then a fourth closes: calls of one rmid
  // never overlap, as a transaction manager guarantees.
  std::vector<uint32_t> callers;
  std::vector<XID> xids(3, sampleXid());
  std::vector<int> results;
  for (int turn = 0; turn < 4; ++turn) {
    test::runConcurrently(1, [&](int) {
      callers.push_back(platform::currentThreadId());
      xa_switch_t* sw = dtcSwitch();
      if (turn == 3) {
        results.push_back(closeRm(rmid));
        return;
      }
      XID* xid = &xids[static_cast<size_t>(turn)];
      int handle = 0;
      int retval = 0;
      char db[] = "ORCL";
      results.push_back(sw->xa_start_entry(xid, rmid, TMNOFLAGS));
      results.push_back(sw->xa_end_entry(xid, rmid, TMSUCCESS));
      results.push_back(sw->xa_prepare_entry(xid, rmid, TMNOFLAGS));
      results.push_back(sw->xa_commit_entry(xid, rmid, TMNOFLAGS));
      results.push_back(sw->xa_recover_entry(xid, 1, rmid, TMSTARTRSCAN));
      results.push_back(sw->xa_forget_entry(xid, rmid, TMNOFLAGS));
      results.push_back(sw->xa_rollback_entry(xid, rmid, TMNOFLAGS));
      results.push_back(sw->xa_complete_entry(&handle, &retval, rmid, TMNOFLAGS));
      results.push_back(hkXaoEnv(rmid, db) != nullptr ? XA_OK : XAER_RMERR);
      results.push_back(hkXaoSvcCtx(rmid, db) != nullptr ? XA_OK : XAER_RMERR);
    });
  }
  for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], XA_OK) << "call " << i;

  const auto calls = StandinControl::loaded().calls();
  const StandinOperation perTurn[] = {
      kStandinStart,  kStandinEnd,      kStandinPrepare,  kStandinCommit, kStandinRecover,
      kStandinForget, kStandinRollback, kStandinComplete, kStandinXaoEnv, kStandinXaoSvcCtx};
  std::vector<int32_t> expected = {kStandinOpen};
  for (int turn = 0; turn < 3; ++turn)
    expected.insert(expected.end(), std::begin(perTurn), std::end(perTurn));
  expected.push_back(kStandinClose);
  ASSERT_EQ(calls.size(), expected.size());
  const uint32_t worker = calls[0].threadId;
  EXPECT_NE(worker, platform::currentThreadId()) << "open ran on the opener's thread";
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].operation, expected[i]) << "call " << i;
    EXPECT_EQ(calls[i].threadId, worker) << "call " << i;
    for (uint32_t caller : callers) EXPECT_NE(calls[i].threadId, caller) << "call " << i;
  }
}

// The six single-XID entries, by slot.
struct XidEntry {
  const char* name;
  int (*xa_switch_t::*slot)(XID*, int, long);
  StandinOperation operation;
};
const XidEntry kXidEntries[] = {
    {"start", &xa_switch_t::xa_start_entry, kStandinStart},
    {"end", &xa_switch_t::xa_end_entry, kStandinEnd},
    {"rollback", &xa_switch_t::xa_rollback_entry, kStandinRollback},
    {"prepare", &xa_switch_t::xa_prepare_entry, kStandinPrepare},
    {"commit", &xa_switch_t::xa_commit_entry, kStandinCommit},
    {"forget", &xa_switch_t::xa_forget_entry, kStandinForget},
};

TEST(Dtc_xa80, SingleXidEntries) {
  const int rmid = 8;
  const int unknown = 9;
  ASSERT_EQ(openRm(rmid), XA_OK);
  StandinControl standin = StandinControl::loaded();
  const long flags = TMJOIN | TMONEPHASE;
  int32_t scripted = 40000;  // outside 16 bits, to show the result is kept whole
  for (const XidEntry& entry : kXidEntries) {
    auto call = dtcSwitch()->*entry.slot;
    standin.setResult(entry.operation, ++scripted);
    const size_t before = StandinControl::loaded().calls().size();

    XID stray = sampleXid();
    EXPECT_EQ(call(&stray, unknown, flags), XAER_RMERR) << entry.name << ": unknown rmid";
    EXPECT_EQ(stray.bqual_length, kDtcBqualLength) << entry.name << ": unknown rmid";
    EXPECT_EQ(call(nullptr, rmid, flags), XAER_RMERR) << entry.name << ": null XID";
    EXPECT_EQ(StandinControl::loaded().calls().size(), before) << entry.name << ": no client call";

    XID xid = sampleXid(entry.operation);
    EXPECT_EQ(call(&xid, rmid, flags), scripted) << entry.name;
    EXPECT_EQ(xid.bqual_length, kDtcBqualLength) << entry.name;
    const auto calls = clientCallsFor(rmid);
    ASSERT_FALSE(calls.empty()) << entry.name;
    const StandinCall& last = calls.back();
    EXPECT_EQ(last.operation, entry.operation) << entry.name;
    EXPECT_EQ(last.pointer, &xid) << entry.name;
    EXPECT_EQ(last.formatId, entry.operation) << entry.name;
    EXPECT_EQ(last.bqualLength, kDtcBqualLength) << entry.name;
    EXPECT_EQ(last.flags, flags) << entry.name;
  }
  EXPECT_EQ(closeRm(rmid), XA_OK);
}

TEST(Dtc_xa80, RecoverAndCompletePassArgumentsAndResultsWhole) {
  const int rmid = 10;
  ASSERT_EQ(openRm(rmid), XA_OK);
  StandinControl standin = StandinControl::loaded();
  std::vector<XID> xids(4, sampleXid());
  int handle = 0;
  int retval = 0;

  // Without a worker nothing is touched.
  EXPECT_EQ(dtcSwitch()->xa_recover_entry(xids.data(), 4, rmid + 1, TMSTARTRSCAN), XAER_RMERR);
  EXPECT_EQ(dtcSwitch()->xa_complete_entry(&handle, &retval, rmid + 1, TMNOFLAGS), XAER_RMERR);
  EXPECT_EQ(xids[0].bqual_length, 4);
  EXPECT_TRUE(clientCallsFor(rmid + 1).empty());

  standin.setResult(kStandinRecover, 40000);
  standin.setResult(kStandinComplete, XA_RETRY);
  EXPECT_EQ(dtcSwitch()->xa_recover_entry(xids.data(), 40000, rmid, TMSTARTRSCAN | TMENDRSCAN),
            40000);
  EXPECT_EQ(dtcSwitch()->xa_complete_entry(&handle, &retval, rmid, TMNOWAIT), XA_RETRY);
  const auto calls = clientCallsFor(rmid);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].operation, kStandinRecover);
  EXPECT_EQ(calls[1].pointer, xids.data());
  EXPECT_EQ(calls[1].count, 40000);
  EXPECT_EQ(calls[1].flags, TMSTARTRSCAN | TMENDRSCAN);
  EXPECT_EQ(xids[0].bqual_length, 4) << "recover leaves the XIDs to the client";
  EXPECT_EQ(calls[2].operation, kStandinComplete);
  EXPECT_EQ(calls[2].pointer, &handle);
  EXPECT_EQ(calls[2].flags, TMNOWAIT);
  EXPECT_EQ(closeRm(rmid), XA_OK);
}

TEST(Dtc_xa80, RmidsAreKeptAtFullWidth) {
  // Each pair would alias if an rmid were cut to 16 bits.
  const struct Row {
    const char* name;
    int opened;
    int alias;
  } rows[] = {{"70000 and 4464", 70000, 4464}, {"40000 and -25536", 40000, -25536}};
  for (const Row& row : rows) {
    ASSERT_EQ(openRm(row.opened), XA_OK) << row.name;
    EXPECT_FALSE(hasWorker(row.alias)) << row.name << ": alias before its open";
    ASSERT_EQ(openRm(row.alias), XA_OK) << row.name;
    XID xid = sampleXid();
    EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, row.alias, TMNOFLAGS), XA_OK) << row.name;
    EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, row.opened, TMNOFLAGS), XA_OK) << row.name;
    const auto aliasCalls = clientCallsFor(row.alias);
    const auto openedCalls = clientCallsFor(row.opened);
    ASSERT_EQ(aliasCalls.size(), 2u) << row.name;
    ASSERT_EQ(openedCalls.size(), 2u) << row.name;
    EXPECT_EQ(aliasCalls[1].threadId, aliasCalls[0].threadId) << row.name;
    EXPECT_EQ(openedCalls[1].threadId, openedCalls[0].threadId) << row.name;
    EXPECT_NE(aliasCalls[0].threadId, openedCalls[0].threadId) << row.name;
    // Closing the later one leaves the earlier.
    EXPECT_EQ(closeRm(row.alias), XA_OK) << row.name;
    EXPECT_FALSE(hasWorker(row.alias)) << row.name;
    EXPECT_TRUE(hasWorker(row.opened)) << row.name;
    EXPECT_EQ(closeRm(row.opened), XA_OK) << row.name;
  }
}

TEST(Dtc_xa80, CloseReturnsTheClientsResultAndEndsTheWorker) {
  const int rmid = 11;
  StandinControl::loaded().reset();
  ASSERT_EQ(openRm(rmid), XA_OK);
  StandinControl::loaded().setResult(kStandinClose, XAER_RMFAIL);
  EXPECT_EQ(closeRm(rmid), XAER_RMFAIL);

  XID xid = sampleXid();
  int handle = 0;
  char db[] = "ORCL";
  xa_switch_t* sw = dtcSwitch();
  for (const XidEntry& entry : kXidEntries) {
    EXPECT_EQ((sw->*entry.slot)(&xid, rmid, TMNOFLAGS), XAER_RMERR) << entry.name;
  }
  EXPECT_EQ(sw->xa_recover_entry(&xid, 1, rmid, TMNOFLAGS), XAER_RMERR);
  EXPECT_EQ(sw->xa_complete_entry(&handle, &handle, rmid, TMNOFLAGS), XAER_RMERR);
  EXPECT_EQ(hkXaoEnv(rmid, db), nullptr);
  EXPECT_EQ(hkXaoSvcCtx(rmid, db), nullptr);
  EXPECT_EQ(closeRm(rmid), XAER_RMERR);
  EXPECT_EQ(clientCallsFor(rmid).size(), 2u) << "open and close only";
}

TEST(Dtc_xa80, CloseEndsTheWorkerUnlessTheClientRefusesWithProto) {
  const struct {
    const char* name;
    int closeAnswer;
    bool workerStays;
  } rows[] = {{"XAER_PROTO: refused, kept", XAER_PROTO, true},
              {"XA_OK", XA_OK, false},
              {"XAER_RMERR", XAER_RMERR, false},
              {"XAER_RMFAIL", XAER_RMFAIL, false},
              {"XAER_INVAL", XAER_INVAL, false}};
  const int rmid = 12;
  for (const auto& row : rows) {
    StandinControl::loaded().reset();
    ASSERT_EQ(openRm(rmid), XA_OK) << row.name;
    StandinControl::loaded().setResult(kStandinClose, row.closeAnswer);
    EXPECT_EQ(closeRm(rmid), row.closeAnswer) << row.name;
    XID xid = sampleXid();
    EXPECT_EQ(dtcSwitch()->xa_end_entry(&xid, rmid, TMSUCCESS),
              row.workerStays ? XA_OK : XAER_RMERR)
        << row.name;
    StandinControl::loaded().setResult(kStandinClose, XA_OK);
    EXPECT_EQ(closeRm(rmid), row.workerStays ? XA_OK : XAER_RMERR) << row.name;
    EXPECT_FALSE(hasWorker(rmid)) << row.name;
    const auto calls = clientCallsFor(rmid);
    std::set<uint32_t> threads;
    for (const StandinCall& call : calls) threads.insert(call.threadId);
    EXPECT_EQ(calls.size(), row.workerStays ? 4u : 2u) << row.name;
    EXPECT_EQ(threads.size(), 1u) << row.name << ": all on one worker";
  }
}

TEST(Dtc_xa80, TwoOpensOfOneRmid) {
  const int rmid = 5;
  // Other rmids first, so the two records sit past the first block of the
  // table that a lookup tests at once.
  for (int other = 300; other < 310; ++other) ASSERT_EQ(openRm(other), XA_OK);
  ASSERT_EQ(openRm(rmid, "ORACLE_XA+DB=first"), XA_OK);
  ASSERT_EQ(openRm(rmid, "ORACLE_XA+DB=second"), XA_OK);
  XID xid = sampleXid();
  // start, close, start, close: the first worker answers until it is closed.
  EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(closeRm(rmid), XA_OK);
  EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(closeRm(rmid), XA_OK);
  EXPECT_FALSE(hasWorker(rmid));

  const auto calls = clientCallsFor(rmid);
  ASSERT_EQ(calls.size(), 6u);
  const uint32_t first = calls[0].threadId;
  const uint32_t second = calls[1].threadId;
  EXPECT_NE(first, second);
  const struct {
    StandinOperation operation;
    uint32_t thread;
    const char* text;
  } expected[] = {{kStandinOpen, first, "ORACLE_XA+DB=first"},
                  {kStandinOpen, second, "ORACLE_XA+DB=second"},
                  {kStandinStart, first, ""},
                  {kStandinClose, first, "ORACLE_XA+DB=first"},
                  {kStandinStart, second, ""},
                  {kStandinClose, second, "ORACLE_XA+DB=second"}};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].operation, expected[i].operation) << "call " << i;
    EXPECT_EQ(calls[i].threadId, expected[i].thread) << "call " << i;
    EXPECT_STREQ(calls[i].text, expected[i].text) << "call " << i;
  }
  for (int other = 300; other < 310; ++other) EXPECT_EQ(closeRm(other), XA_OK);
}

TEST(Dtc_xa80, AccessorsRunOnTheWorkerThread) {
  char db[] = "DB1";
  EXPECT_EQ(hkXaoEnv(14, db), nullptr) << "before any open";
  ASSERT_EQ(openRm(14), XA_OK);
  void* env = hkXaoEnv(14, db);
  void* context = hkXaoSvcCtx(14, db);
  ASSERT_NE(env, nullptr);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(*static_cast<char*>(env), ZP_STANDIN_ENV_TAG);
  EXPECT_EQ(*static_cast<char*>(context), ZP_STANDIN_SVCCTX_TAG);
  EXPECT_EQ(hkXaoEnv(15, db), nullptr) << "rmid without a worker";
  EXPECT_EQ(hkXaoSvcCtx(15, db), nullptr) << "rmid without a worker";

  const uint32_t worker = clientCallsFor(14).at(0).threadId;
  const StandinOperation accessors[] = {kStandinXaoEnv, kStandinXaoSvcCtx};
  for (StandinOperation operation : accessors) {
    const auto calls = clientCallsOf(operation);
    ASSERT_EQ(calls.size(), 1u) << operation;
    EXPECT_EQ(calls[0].threadId, worker) << operation;
    EXPECT_STREQ(calls[0].text, "DB1") << operation;
  }
  EXPECT_EQ(closeRm(14), XA_OK);
}

TEST(Dtc_noaccessors, AccessorsWithoutExportsAnswerNullAfterAnExchange) {
  char db[] = "ORCL";
  ASSERT_EQ(openRm(16), XA_OK);
  fault::resetCalls(fault::Point::kSemaphoreWait);
  EXPECT_EQ(hkXaoEnv(16, db), nullptr);
  EXPECT_GE(fault::calls(fault::Point::kSemaphoreWait), 1u) << "the worker was asked";
  EXPECT_EQ(hkXaoSvcCtx(16, db), nullptr);
  EXPECT_EQ(closeRm(16), XA_OK);
}

}  // namespace
}  // namespace zp
