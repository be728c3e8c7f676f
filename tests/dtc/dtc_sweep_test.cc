// Every failure point of the GetXaSwitch switch's entries, swept one at a
// time with the shared sweep (testlib/fault_sweep.h): the open, the close,
// the eight calls and the two accessors. Semaphore waits are left to
// dtc_faults_test: a failed wait is waited again, so a persistent failure
// holds the call until the waits work, which that test shows with a second
// thread. Each case runs in a process of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "dtc_driver.h"
#include "platform/fault.h"
#include "testlib/fault_sweep.h"

namespace zp {
namespace {

using test::closeRm;
using test::dtcSwitch;
using test::FaultRun;
using test::FaultSweepEntry;
using test::hasWorker;
using test::openRm;

constexpr int kRmid = 31;

void echoEverything() {
  test::StandinControl control = test::StandinControl::loaded();
  for (int op = kStandinStart; op <= kStandinComplete; ++op)
    control.setResult(static_cast<StandinOperation>(op), ZP_STANDIN_ECHO);
}

// The entry as it is swept: a name, the call, and the answer a clean run gives.
struct Call {
  const char* name;
  std::function<long long()> run;
  long long clean;
};

constexpr int kEcho = 4242;

int xidCall(int (*xa_switch_t::*slot)(XID*, int, long)) {
  XID xid = test::sampleXid(kEcho);
  return (dtcSwitch()->*slot)(&xid, kRmid, TMNOFLAGS);
}

long long accessorTag(void* (*accessor)(int, char*)) {
  char db[] = "ORCL";
  const auto* handle = static_cast<const char*>(accessor(kRmid, db));
  return handle != nullptr ? *handle : 0;
}

TEST(DtcSweep_xa80, EveryCallOfAnOpenRmid) {
  // The calls reach no failure point but the worker's waits, and the
  // accessors the client's export, whose lookup may fail: then the handle
  // is null, as for a client without the export.
  ASSERT_EQ(openRm(kRmid), XA_OK);
  echoEverything();
  const Call calls[] = {
      {"start", [] { return xidCall(&xa_switch_t::xa_start_entry); }, kEcho},
      {"end", [] { return xidCall(&xa_switch_t::xa_end_entry); }, kEcho},
      {"rollback", [] { return xidCall(&xa_switch_t::xa_rollback_entry); }, kEcho},
      {"prepare", [] { return xidCall(&xa_switch_t::xa_prepare_entry); }, kEcho},
      {"commit", [] { return xidCall(&xa_switch_t::xa_commit_entry); }, kEcho},
      {"forget", [] { return xidCall(&xa_switch_t::xa_forget_entry); }, kEcho},
      {"recover",
       [] {
         XID xids[1];
         return dtcSwitch()->xa_recover_entry(xids, kEcho, kRmid, TMSTARTRSCAN);
       },
       kEcho},
      {"complete",
       [] {
         int handle = kEcho;
         int retval = 0;
         return dtcSwitch()->xa_complete_entry(&handle, &retval, kRmid, TMNOFLAGS);
       },
       kEcho},
      {"hkXaoEnv", [] { return accessorTag(hkXaoEnv); }, ZP_STANDIN_ENV_TAG},
      {"hkXaoSvcCtx", [] { return accessorTag(hkXaoSvcCtx); }, ZP_STANDIN_SVCCTX_TAG},
  };
  for (const Call& call : calls) {
    FaultSweepEntry entry;
    entry.name = std::string("DTC ") + call.name;
    entry.run = call.run;
    entry.skip = {fault::Point::kSemaphoreWait};
    const long long clean = call.clean;
    entry.check = [clean](const FaultRun& run, long long result) {
      const bool lookup = !run.clean() && run.point == fault::Point::kLibrarySymbol;
      EXPECT_EQ(result, lookup ? 0 : clean) << run.row;
    };
    entry.worksAgain = [&call](const std::string& row) {
      EXPECT_EQ(call.run(), call.clean) << row << ": next call";
    };
    test::expectSweepComplete(test::sweepFaults(entry), entry.name);
  }
  EXPECT_EQ(closeRm(kRmid), XA_OK);
}

TEST(DtcSweep_xa80, Open) {
  // Every failure answers XAER_RMERR and leaves no worker; the next open
  // and close work.
  ASSERT_EQ(openRm(kRmid), XA_OK);  // loads the client
  ASSERT_EQ(closeRm(kRmid), XA_OK);
  FaultSweepEntry entry;
  entry.name = "DTC xa_open";
  entry.run = [] { return openRm(kRmid); };
  entry.skip = {fault::Point::kSemaphoreWait};
  entry.check = [](const FaultRun& run, long long result) {
    EXPECT_EQ(result, run.clean() ? XA_OK : XAER_RMERR) << run.row;
    if (result == XA_OK) {
      EXPECT_EQ(closeRm(kRmid), XA_OK) << run.row;
    }
    EXPECT_FALSE(hasWorker(kRmid)) << run.row;
  };
  entry.worksAgain = [](const std::string& row) {
    EXPECT_EQ(openRm(kRmid), XA_OK) << row << ": next open";
    EXPECT_EQ(closeRm(kRmid), XA_OK) << row << ": next close";
  };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kThreadCreate)], 1u);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kSemaphoreCreate)], 3u);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kLibraryLoad)], 1u)
      << "the worker's module reference";
  test::expectSweepComplete(counts, entry.name);
}

TEST(DtcSweep_xa80, Close) {
  // A close answers the client's result and ends the rmid whatever fails:
  // a join that fails leaves the module referenced, nothing else.
  FaultSweepEntry entry;
  entry.name = "DTC xa_close";
  entry.prepare = [] {
    if (!hasWorker(kRmid)) {
      ASSERT_EQ(openRm(kRmid), XA_OK);
    }
  };
  entry.run = [] { return closeRm(kRmid); };
  entry.skip = {fault::Point::kSemaphoreWait};
  entry.check = [](const FaultRun& run, long long result) {
    EXPECT_EQ(result, XA_OK) << run.row;
    EXPECT_FALSE(hasWorker(kRmid)) << run.row;
  };
  entry.worksAgain = [](const std::string& row) {
    EXPECT_EQ(openRm(kRmid), XA_OK) << row << ": next open";
    EXPECT_EQ(closeRm(kRmid), XA_OK) << row << ": next close";
  };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kThreadJoin)], 1u);
  test::expectSweepComplete(counts, entry.name);
}

}  // namespace
}  // namespace zp
