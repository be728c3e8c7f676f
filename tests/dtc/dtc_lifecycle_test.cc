// An rmid's worker over its whole life as a transaction manager meets it:
// opens that fail and are retried, calls of one rmid that overlap, a close
// that races with other calls, and the module unloaded and loaded again
// with rmids closed or still open.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "dtc_driver.h"
#include "platform/platform.h"
#include "testlib/module_file.h"
#include "testlib/process_threads.h"
#include "testlib/threads.h"

namespace zp {
namespace {

using test::clientCallsFor;
using test::closeRm;
using test::dtcSwitch;
using test::hasWorker;
using test::openRm;
using test::sampleXid;
using test::StandinControl;

// Loads the stand-in with a first rmid and makes every answer an echo of
// its request.
void echoEverything() {
  ASSERT_EQ(openRm(1), XA_OK);
  ASSERT_EQ(closeRm(1), XA_OK);
  StandinControl control = StandinControl::loaded();
  control.reset();
  for (int op = kStandinStart; op <= kStandinComplete; ++op)
    control.setResult(static_cast<StandinOperation>(op), ZP_STANDIN_ECHO);
}

TEST(Lifecycle_xa80, FailedOpensLeaveNothingAndARetryGetsItsOwnWorker) {
  const int rmid = 12;
  ASSERT_EQ(openRm(13), XA_OK);  // loads the stand-in so it can be scripted
  ASSERT_EQ(closeRm(13), XA_OK);
  const int threadsBefore = test::processThreadCount();
  StandinControl::loaded().setResult(kStandinOpen, XAER_RMFAIL);
  constexpr int kRetries = 25;
  for (int retry = 0; retry < kRetries; ++retry) {
    ASSERT_EQ(openRm(rmid), XAER_RMFAIL) << "retry " << retry;
  }
  EXPECT_EQ(test::processThreadCount(), threadsBefore) << "a failed open left a thread";

  // The never-opened rmid answers XAER_RMERR without reaching the client.
  XID xid = sampleXid();
  XID xids[2];
  EXPECT_FALSE(hasWorker(rmid));
  EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS), XAER_RMERR);
  EXPECT_EQ(dtcSwitch()->xa_recover_entry(xids, 2, rmid, TMSTARTRSCAN), XAER_RMERR);
  EXPECT_EQ(closeRm(rmid), XAER_RMERR);
  EXPECT_EQ(clientCallsFor(rmid).size(), static_cast<size_t>(kRetries)) << "opens only";

  // A later open that succeeds: every call of the rmid runs on its worker.
  StandinControl::loaded().setResult(kStandinOpen, XA_OK);
  ASSERT_EQ(openRm(rmid), XA_OK);
  EXPECT_EQ(dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS), XA_OK);
  EXPECT_EQ(dtcSwitch()->xa_end_entry(&xid, rmid, TMSUCCESS), XA_OK);
  EXPECT_TRUE(hasWorker(rmid));
  EXPECT_EQ(closeRm(rmid), XA_OK);
  const std::vector<StandinCall> calls = clientCallsFor(rmid);
  ASSERT_EQ(calls.size(), static_cast<size_t>(kRetries + 4));
  const uint32_t worker = calls[kRetries].threadId;
  for (size_t i = kRetries; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].threadId, worker) << "call " << i << " left the open's thread";
  }
  EXPECT_EQ(test::processThreadCount(), threadsBefore);
}

// The kinds of call that overlap on one rmid, each with an answer that only
// its own request can have.
enum class Kind { kRecover, kStart, kComplete, kEnvironment, kServiceContext, kCount };

// Makes one call of kind with the request's distinct value; true when the
// answer is its own.
bool callWithOwnAnswer(int rmid, Kind kind, int value) {
  xa_switch_t* sw = dtcSwitch();
  char db[] = "ORCL";
  switch (kind) {
    case Kind::kRecover: {
      XID xids[1];
      // The stand-in echoes the count without touching the array.
      return sw->xa_recover_entry(xids, value, rmid, TMSTARTRSCAN) == value;
    }
    case Kind::kStart: {
      XID xid = sampleXid(value);
      return sw->xa_start_entry(&xid, rmid, TMNOFLAGS) == value;
    }
    case Kind::kComplete: {
      int handle = value;
      int retval = 0;
      return sw->xa_complete_entry(&handle, &retval, rmid, TMNOFLAGS) == value;
    }
    case Kind::kEnvironment: {
      const auto* handle = static_cast<const char*>(hkXaoEnv(rmid, db));
      return handle != nullptr && *handle == ZP_STANDIN_ENV_TAG;
    }
    default: {
      const auto* handle = static_cast<const char*>(hkXaoSvcCtx(rmid, db));
      return handle != nullptr && *handle == ZP_STANDIN_SVCCTX_TAG;
    }
  }
}

TEST(Lifecycle_xa80, OverlappingCallsOnOneRmidGetTheirOwnAnswers) {
  echoEverything();
  const int rmid = 7;
  ASSERT_EQ(openRm(rmid), XA_OK);
  constexpr int kThreads = 8;
  constexpr int kCalls = 400;
  std::vector<int> wrong(kThreads, 0);
  test::runConcurrently(kThreads, [&](int thread) {
    for (int i = 0; i < kCalls; ++i) {
      const auto kind = static_cast<Kind>(i % static_cast<int>(Kind::kCount));
      const int value = 1 + thread * kCalls + i;
      if (!callWithOwnAnswer(rmid, kind, value)) ++wrong[static_cast<size_t>(thread)];
    }
  });
  for (int thread = 0; thread < kThreads; ++thread)
    EXPECT_EQ(wrong[static_cast<size_t>(thread)], 0) << "thread " << thread << ": crossed answers";
  ASSERT_EQ(closeRm(rmid), XA_OK);
  // The application's accessors and the switch calls all ran on the worker.
  const auto calls = StandinControl::loaded().calls();
  ASSERT_FALSE(calls.empty());
  const uint32_t worker = clientCallsFor(rmid).front().threadId;
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].threadId, worker) << "call " << i;
}

TEST(Lifecycle_xa80, CloseDuringOtherCallsEndsEachOneCleanly) {
  echoEverything();
  const int rmid = 9;
  const int threadsBefore = test::processThreadCount();
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  for (int attempt = 0; attempt < 10; ++attempt) {
    ASSERT_EQ(openRm(rmid), XA_OK) << "attempt " << attempt;
    std::vector<int> wrong(kThreads, 0);
    std::atomic<int> closes{0};
    test::runConcurrently(kThreads, [&](int thread) {
      bool closed = false;
      for (int i = 0; i < kCalls; ++i) {
        if (thread == 0 && i == kCalls / 4) {
          closes += closeRm(rmid) == XA_OK;
          continue;
        }
        // Before the close: the call's own answer; after it: XAER_RMERR,
        // and never an answer again.
        XID xid = sampleXid(1 + thread * kCalls + i);
        const int result = dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS);
        if (result == XAER_RMERR) {
          closed = true;
        } else if (closed || result != xid.formatID) {
          ++wrong[static_cast<size_t>(thread)];
        }
      }
    });
    EXPECT_EQ(closes.load(), 1) << "attempt " << attempt;
    for (int thread = 0; thread < kThreads; ++thread)
      EXPECT_EQ(wrong[static_cast<size_t>(thread)], 0)
          << "attempt " << attempt << " thread " << thread;
    EXPECT_FALSE(hasWorker(rmid)) << "attempt " << attempt;
  }
  EXPECT_EQ(test::processThreadCount(), threadsBefore);
}

// The module as a transaction manager loads it: by file name, switch from
// GetXaSwitch.
struct LoadedModule {
  platform::Library* library = nullptr;
  xa_switch_t* sw = nullptr;

  bool load() {
    library = platform::libraryLoad(test::moduleFile());
    if (library == nullptr) return false;
    auto get = reinterpret_cast<int32_t (*)(uint32_t, xa_switch_t**)>(
        platform::librarySymbol(library, "GetXaSwitch"));
    return get != nullptr && get(0, &sw) == 0 && sw != nullptr;
  }
  void unload() {
    platform::libraryUnload(library);
    library = nullptr;
  }
};

// Opens, drives and closes (when close is set) rmids 1..count; the number
// of calls that did not answer XA_OK.
int driveRmids(xa_switch_t* sw, int count, bool close) {
  int failed = 0;
  for (int rmid = 1; rmid <= count; ++rmid) {
    char info[] = "ORACLE_XA+DB=ORCL";
    failed += sw->xa_open_entry(info, rmid, TMNOFLAGS) != XA_OK;
    XID xid = sampleXid();
    failed += sw->xa_start_entry(&xid, rmid, TMNOFLAGS) != XA_OK;
    failed += sw->xa_end_entry(&xid, rmid, TMSUCCESS) != XA_OK;
  }
  for (int rmid = 1; close && rmid <= count; ++rmid) {
    char info[] = "ORACLE_XA";
    failed += sw->xa_close_entry(info, rmid, TMNOFLAGS) != XA_OK;
  }
  return failed;
}

TEST(Unload_xa80, UnloadAfterClosingEveryRmidAgainAndAgain) {
  // Once xa_close has returned no module code runs on its worker, so the
  // module can be unmapped at once, cycle after cycle.
  for (int cycle = 0; cycle < 300; ++cycle) {
    LoadedModule module;
    ASSERT_TRUE(module.load()) << "cycle " << cycle;
    EXPECT_EQ(driveRmids(module.sw, 16, true), 0) << "cycle " << cycle;
    module.unload();
  }
}

TEST(Unload_xa80, OpenRmidsKeepTheModuleLoaded) {
  LoadedModule first;
  ASSERT_TRUE(first.load());
  ASSERT_EQ(driveRmids(first.sw, 4, false), 0);
  xa_switch_t* const before = first.sw;
  first.unload();
  // The workers still hold the module: it is mapped where it was, and a
  // load finds the same instance with its rmids still open.
  LoadedModule again;
  ASSERT_TRUE(again.load());
  EXPECT_EQ(again.sw, before);
  XID xid = sampleXid();
  EXPECT_EQ(again.sw->xa_start_entry(&xid, 2, TMNOFLAGS), XA_OK);
  // The same rmids open again (second workers) and every one closes.
  EXPECT_EQ(driveRmids(again.sw, 4, true), 0);
  for (int rmid = 1; rmid <= 4; ++rmid) {
    char info[] = "ORACLE_XA";
    EXPECT_EQ(again.sw->xa_close_entry(info, rmid, TMNOFLAGS), XA_OK) << "rmid " << rmid;
  }
  again.unload();
  // Unloaded for real now: a fresh load opens the rmids again.
  LoadedModule fresh;
  ASSERT_TRUE(fresh.load());
  EXPECT_EQ(driveRmids(fresh.sw, 4, true), 0);
  fresh.unload();
}

}  // namespace
}  // namespace zp
