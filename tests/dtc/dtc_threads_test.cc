// Many rmids opened, driven and closed at once from several threads. Each
// thread owns its rmids, so calls of one rmid never overlap, while the table
// is searched and changed by all of them together.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dtc_driver.h"
#include "platform/platform.h"
#include "testlib/threads.h"

namespace zp {
namespace {

using test::dtcSwitch;
using test::openRm;
using test::sampleXid;
using test::StandinControl;

// threads threads each open rmidsPerThread rmids of their own, run rounds
// of start, end and commit on each, and close them. The stand-in echoes each
// XID's formatID, which is the rmid, so every answer is checked against its
// own request. Then, per rmid: open, the rounds, close, in order, all on one
// thread that is no caller's, and no two rmids share a worker.
void driveManyRmids(int threads, int rmidsPerThread, int rounds) {
  ASSERT_EQ(openRm(1), XA_OK);  // loads the stand-in
  StandinControl::loaded().reset();
  for (StandinOperation op : {kStandinStart, kStandinEnd, kStandinCommit})
    StandinControl::loaded().setResult(op, ZP_STANDIN_ECHO);
  std::vector<uint32_t> callers(static_cast<size_t>(threads));
  std::vector<int> failures(static_cast<size_t>(threads), 0);
  std::vector<std::string> firstFailure(static_cast<size_t>(threads));
  std::atomic<int> opened{0};
  test::runConcurrently(threads, [&](int thread) {
    callers[static_cast<size_t>(thread)] = platform::currentThreadId();
    xa_switch_t* sw = dtcSwitch();
    const int base = 1000 * (thread + 1);
    int& failed = failures[static_cast<size_t>(thread)];
    // Counts a wrong answer and keeps the first, to name it in the report.
    auto check = [&](const char* call, int rmid, int result, int wanted) {
      if (result == wanted) return;
      if (failed++ == 0) {
        firstFailure[static_cast<size_t>(thread)] = std::string(call) + " rmid " +
                                                    std::to_string(rmid) + " answered " +
                                                    std::to_string(result);
      }
    };
    for (int i = 0; i < rmidsPerThread; ++i) check("open", base + i, openRm(base + i), XA_OK);
    // Every rmid open at once, so no two workers can share a thread id.
    opened.fetch_add(1);
    while (opened.load() != threads) test::yieldThread();
    for (int round = 0; round < rounds; ++round) {
      for (int i = 0; i < rmidsPerThread; ++i) {
        const int rmid = base + i;
        XID xid = sampleXid(rmid);
        check("start", rmid, sw->xa_start_entry(&xid, rmid, TMNOFLAGS), rmid);
        check("end", rmid, sw->xa_end_entry(&xid, rmid, TMSUCCESS), rmid);
        check("commit", rmid, sw->xa_commit_entry(&xid, rmid, TMONEPHASE), rmid);
      }
    }
    for (int i = 0; i < rmidsPerThread; ++i)
      check("close", base + i, test::closeRm(base + i), XA_OK);
  });
  for (int thread = 0; thread < threads; ++thread) {
    EXPECT_EQ(failures[static_cast<size_t>(thread)], 0)
        << "thread " << thread << ", first: " << firstFailure[static_cast<size_t>(thread)];
  }
  EXPECT_EQ(test::closeRm(1), XA_OK);

  std::map<int32_t, std::vector<StandinCall>> byRmid;
  for (const StandinCall& call : StandinControl::loaded().calls())
    byRmid[call.rmid].push_back(call);
  byRmid.erase(1);
  ASSERT_EQ(byRmid.size(), static_cast<size_t>(threads * rmidsPerThread));
  const std::set<uint32_t> callerSet(callers.begin(), callers.end());
  std::set<uint32_t> workers;
  for (const auto& entry : byRmid) {
    const std::vector<StandinCall>& calls = entry.second;
    ASSERT_EQ(calls.size(), static_cast<size_t>(2 + 3 * rounds)) << "rmid " << entry.first;
    EXPECT_EQ(calls.front().operation, kStandinOpen) << "rmid " << entry.first;
    EXPECT_EQ(calls.back().operation, kStandinClose) << "rmid " << entry.first;
    for (const StandinCall& call : calls) {
      EXPECT_EQ(call.threadId, calls.front().threadId) << "rmid " << entry.first;
    }
    EXPECT_EQ(callerSet.count(calls.front().threadId), 0u) << "rmid " << entry.first;
    workers.insert(calls.front().threadId);
  }
  EXPECT_EQ(workers.size(), byRmid.size()) << "one worker per rmid";
  EXPECT_FALSE(test::hasWorker(1000));
}

TEST(Threads_xa80, ManyRmidsAtOnce) { driveManyRmids(6, 8, 3); }

// 1,024 rmids, all of them open at once, on 64 threads. A 32-bit process
// cannot hold that many workers: each thread reserves the program's default
// stack (2 MB for these test programs) of a 2 GB address space, so there it
// is 384 rmids.
TEST(Threads_xa80, ThousandRmidsOnSixtyFourThreads) {
  driveManyRmids(64, sizeof(void*) == 4 ? 6 : 16, 1);
}

// Waits until count threads have arrived (bounded by the test's time limit).
void arriveAndWait(std::atomic<int>& arrived, int count) {
  arrived.fetch_add(1);
  while (arrived.load() < count) test::yieldThread();
}

// kOpeners threads each open rmid 7 in turn (the client sees "+DB=t<n>"), then each
// runs a start, an accessor and a close; one more thread, which opened
// nothing, runs a start while all records are open. Each opener's calls must
// reach the worker its own open made; the other thread's the rmid's first.
TEST(Threads_xa80, EachOpenerOfAnRmidReachesItsOwnWorker) {
  constexpr int kOpeners = 4;
  constexpr int kRmid = 7;
  constexpr long kOutsider = 99;
  ASSERT_EQ(openRm(1), XA_OK);  // loads the stand-in
  ASSERT_EQ(test::closeRm(1), XA_OK);
  StandinControl::loaded().reset();
  std::atomic<int> turn{0};
  std::atomic<int> opened{0};
  std::atomic<int> called{0};
  std::vector<int> results(kOpeners * 3 + 1, -100);
  test::runConcurrently(kOpeners + 1, [&](int thread) {
    xa_switch_t* sw = dtcSwitch();
    XID xid = sampleXid(thread);
    if (thread == kOpeners) {
      arriveAndWait(opened, kOpeners + 1);
      xid.formatID = kOutsider;
      results[kOpeners * 3] = sw->xa_start_entry(&xid, kRmid, TMNOFLAGS);
      arriveAndWait(called, kOpeners + 1);
      return;
    }
    // The opens in turn, so that thread 0's record is the rmid's first.
    while (turn.load() != thread) test::yieldThread();
    const int opening = openRm(kRmid, "ORACLE_XA+DB=t" + std::to_string(thread));
    turn.fetch_add(1);
    arriveAndWait(opened, kOpeners + 1);
    char db[] = "ORCL";
    results[thread * 3] = sw->xa_start_entry(&xid, kRmid, TMNOFLAGS);
    results[thread * 3 + 1] = hkXaoSvcCtx(kRmid, db) != nullptr ? XA_OK : XAER_RMERR;
    arriveAndWait(called, kOpeners + 1);
    results[thread * 3 + 2] = opening == XA_OK ? test::closeRm(kRmid) : opening;
  });
  for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], XA_OK) << "call " << i;
  EXPECT_FALSE(test::hasWorker(kRmid)) << "every open met by its close";

  // Which worker thread carried each opener's open.
  std::map<std::string, uint32_t> workerOf;
  for (const StandinCall& call : test::clientCallsOf(kStandinOpen))
    workerOf[call.text] = call.threadId;
  ASSERT_EQ(workerOf.size(), static_cast<size_t>(kOpeners));
  const uint32_t firstWorker = workerOf["ORACLE_XA+DB=t0"];
  const struct {
    const char* name;
    StandinOperation operation;
  } rows[] = {{"start", kStandinStart}, {"accessor", kStandinXaoSvcCtx}, {"close", kStandinClose}};
  for (const auto& row : rows) {
    const auto calls = test::clientCallsOf(row.operation);
    EXPECT_EQ(calls.size(), static_cast<size_t>(kOpeners + (row.operation == kStandinStart)))
        << row.name;
    std::set<uint32_t> workers;
    for (const StandinCall& call : calls) {
      if (row.operation == kStandinStart && call.formatId == kOutsider) {
        EXPECT_EQ(call.threadId, firstWorker) << "the outsider's start reaches the first";
        continue;
      }
      workers.insert(call.threadId);
      if (row.operation == kStandinClose) {
        EXPECT_EQ(call.threadId, workerOf[call.text]) << row.name << " " << call.text;
      }
      if (row.operation == kStandinStart) {
        const std::string own = "ORACLE_XA+DB=t" + std::to_string(call.formatId);
        EXPECT_EQ(call.threadId, workerOf[own]) << row.name << " of " << own;
      }
    }
    EXPECT_EQ(workers.size(), static_cast<size_t>(kOpeners)) << row.name << ": one per opener";
  }
}

TEST(Threads_xa80, OtherRmidsGoOnWhileACallWaitsInTheClient) {
  // rmid 20's commit waits inside the client; meanwhile another thread drives
  // rmid 21 and opens and closes rmid 22. That works only if no lock is held
  // while a request waits for its worker.
  ASSERT_EQ(openRm(20), XA_OK);
  ASSERT_EQ(openRm(21), XA_OK);
  const StandinControl hold = StandinControl::loaded();
  ASSERT_TRUE(hold.canHold());
  hold.hold(kStandinCommit, 20);
  int heldCommit = XAER_RMERR;
  bool sawHeld = false;
  bool stillHeld = false;
  std::vector<int> others;
  test::runConcurrently(2, [&](int thread) {
    xa_switch_t* sw = dtcSwitch();
    XID xid = sampleXid();
    if (thread == 0) {
      heldCommit = sw->xa_commit_entry(&xid, 20, TMONEPHASE);
      return;
    }
    sawHeld = hold.awaitHeld();
    others.push_back(sw->xa_start_entry(&xid, 21, TMNOFLAGS));
    others.push_back(sw->xa_commit_entry(&xid, 21, TMONEPHASE));
    others.push_back(openRm(22));
    others.push_back(test::closeRm(22));
    stillHeld = hold.held();
    hold.letGo();
  });
  EXPECT_TRUE(sawHeld);
  EXPECT_TRUE(stillHeld) << "rmid 21 and 22 had to wait for rmid 20";
  EXPECT_EQ(heldCommit, XA_OK);
  for (size_t i = 0; i < others.size(); ++i) EXPECT_EQ(others[i], XA_OK) << "call " << i;
  EXPECT_EQ(test::closeRm(20), XA_OK);
  EXPECT_EQ(test::closeRm(21), XA_OK);
}

}  // namespace
}  // namespace zp
