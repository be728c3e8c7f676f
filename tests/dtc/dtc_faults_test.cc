// Every failure on the open path of the GetXaSwitch switch, made to happen
// through the fault hooks one call at a time: the open answers XAER_RMERR,
// leaves no worker and no client call behind, leaks nothing (the sanitizer
// build checks leaks at exit), and the next open and close work.
#include <gtest/gtest.h>

#include <string>

#include "dtc_driver.h"
#include "module/statics.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "testlib/process_threads.h"
#include "testlib/threads.h"

namespace zp {
namespace {

using test::clientCallsOf;
using test::closeRm;
using test::hasWorker;
using test::openRm;

constexpr int kRmid = 42;

constexpr int kFirstFiller = 10000;
int g_nextFiller = kFirstFiller;

// Fills the worker table up to its capacity with idle workers, so that the
// next open has to grow the table as well.
void fillTable() {
  while (workerTableArray().count() < workerTableArray().capacity()) {
    ASSERT_EQ(openRm(g_nextFiller++), XA_OK) << "filler";
  }
}

// Ends the fillers, so the process ends with no worker waiting.
void closeFillers() {
  for (int filler = kFirstFiller; filler < g_nextFiller; ++filler) {
    EXPECT_EQ(closeRm(filler), XA_OK) << "filler " << filler;
  }
}

// The first open of the process loads the client; the sweeps start after it.
void loadClient() {
  ASSERT_EQ(openRm(kRmid), XA_OK);
  ASSERT_EQ(closeRm(kRmid), XA_OK);
}

// After an open that was made to fail: no worker, no client open, and the
// rmid opens and closes normally afterwards.
void expectCleanFailure(int result, size_t clientOpensBefore, const std::string& row) {
  EXPECT_EQ(result, XAER_RMERR) << row;
  EXPECT_FALSE(hasWorker(kRmid)) << row;
  EXPECT_EQ(clientCallsOf(kStandinOpen).size(), clientOpensBefore) << row << ": client open";
  EXPECT_EQ(openRm(kRmid), XA_OK) << row << ": next open";
  EXPECT_EQ(closeRm(kRmid), XA_OK) << row << ": next close";
}

// Counts point's calls in a normal open of a full table, then fails each of
// them in turn.
void sweepOpenPath(fault::Point point, const char* name) {
  loadClient();
  fillTable();
  fault::resetCalls(point);
  ASSERT_EQ(openRm(kRmid), XA_OK);
  const uint32_t count = fault::calls(point);
  ASSERT_EQ(closeRm(kRmid), XA_OK);
  ASSERT_GT(count, 0u) << name << " is never called by an open";
  for (uint32_t nth = 1; nth <= count; ++nth) {
    const std::string row =
        std::string(name) + " call " + std::to_string(nth) + " of " + std::to_string(count);
    fillTable();
    const size_t opens = clientCallsOf(kStandinOpen).size();
    fault::arm(point, nth);
    const int result = openRm(kRmid);
    fault::disarmAll();
    expectCleanFailure(result, opens, row);
  }
  closeFillers();
}

TEST(Faults_xa80, EveryAllocationOfAnOpen) {
  sweepOpenPath(fault::Point::kAllocation, "allocation");
}

TEST(Faults_xa80, EverySemaphoreCreationOfAnOpen) {
  sweepOpenPath(fault::Point::kSemaphoreCreate, "semaphore creation");
}

TEST(Faults_xa80, ThreadCreation) { sweepOpenPath(fault::Point::kThreadCreate, "thread creation"); }

TEST(Faults_xa80, LibraryLoad) {
  fault::arm(fault::Point::kLibraryLoad, 1);
  const int result = openRm(kRmid);
  fault::disarmAll();
  EXPECT_EQ(result, XAER_RMERR);
  EXPECT_FALSE(hasWorker(kRmid));
  EXPECT_EQ(workerTableArray().capacity(), 0u) << "nothing was registered";
  EXPECT_EQ(openRm(kRmid), XA_OK);
  EXPECT_EQ(closeRm(kRmid), XA_OK);
}

TEST(Faults_xa80, ModuleReference) {
  // Once the client is loaded, the only library an open loads is the
  // module's own reference for the new worker.
  sweepOpenPath(fault::Point::kLibraryLoad, "module reference");
}

TEST(Faults_xa80, FailedReadinessWaitLeavesNoWorker) {
  loadClient();
  // Every wait fails until disarmed, so the opener's wait for the new
  // thread's readiness certainly does; the thread keeps retrying its own.
  const size_t opens = clientCallsOf(kStandinOpen).size();
  fault::arm(fault::Point::kSemaphoreWait, 1, true);
  const int result = openRm(kRmid);
  fault::disarmAll();
  expectCleanFailure(result, opens, "readiness wait");
}

TEST(Faults_xa80, EveryWaitOfAnOpen) {
  // Waits are counted on every thread, and the opener's and the new worker's
  // interleave differently from run to run: a failed wait of the worker is
  // waited again and the open succeeds; a failed wait for readiness fails it.
  loadClient();
  fault::resetCalls(fault::Point::kSemaphoreWait);
  ASSERT_EQ(openRm(kRmid), XA_OK);
  const uint32_t count = fault::calls(fault::Point::kSemaphoreWait);
  ASSERT_EQ(closeRm(kRmid), XA_OK);
  for (uint32_t nth = 1; nth <= count; ++nth) {
    const std::string row = "wait " + std::to_string(nth) + " of " + std::to_string(count);
    const size_t opens = clientCallsOf(kStandinOpen).size();
    fault::arm(fault::Point::kSemaphoreWait, nth);
    const int result = openRm(kRmid);
    fault::disarmAll();
    if (result == XAER_RMERR) {
      expectCleanFailure(result, opens, row);
      continue;
    }
    EXPECT_EQ(result, XA_OK) << row;
    EXPECT_TRUE(hasWorker(kRmid)) << row;
    EXPECT_EQ(closeRm(kRmid), XA_OK) << row;
  }
}

// The calls of an open rmid, each with an answer only its own request can
// have (the stand-in echoes it).
struct EchoCall {
  const char* name;
  int (*call)(int rmid, int value);
};

int echoStart(int rmid, int value) {
  XID xid = test::sampleXid(value);
  return test::dtcSwitch()->xa_start_entry(&xid, rmid, TMNOFLAGS);
}
int echoRecover(int rmid, int value) {
  XID xids[1];
  return test::dtcSwitch()->xa_recover_entry(xids, value, rmid, TMSTARTRSCAN);
}
int echoComplete(int rmid, int value) {
  int handle = value;
  int retval = 0;
  return test::dtcSwitch()->xa_complete_entry(&handle, &retval, rmid, TMNOFLAGS);
}
int echoServiceContext(int rmid, int value) {
  char db[] = "ORCL";
  const auto* handle = static_cast<const char*>(hkXaoSvcCtx(rmid, db));
  return handle != nullptr && *handle == ZP_STANDIN_SVCCTX_TAG ? value : -1;
}

const EchoCall kEchoCalls[] = {{"start", echoStart},
                               {"recover", echoRecover},
                               {"complete", echoComplete},
                               {"service context", echoServiceContext}};

void echoEverything() {
  loadClient();
  test::StandinControl control = test::StandinControl::loaded();
  for (int op = kStandinStart; op <= kStandinComplete; ++op)
    control.setResult(static_cast<StandinOperation>(op), ZP_STANDIN_ECHO);
}

TEST(Faults_xa80, EveryWaitOfEachCallIsWaitedAgain) {
  // A wait that fails is waited again on both sides of the exchange: the
  // call still gets its own answer, whichever wait failed.
  echoEverything();
  ASSERT_EQ(openRm(kRmid), XA_OK);
  int value = 100;
  for (const EchoCall& entry : kEchoCalls) {
    fault::resetCalls(fault::Point::kSemaphoreWait);
    ASSERT_EQ(entry.call(kRmid, ++value), value) << entry.name;
    const uint32_t count = fault::calls(fault::Point::kSemaphoreWait);
    EXPECT_GT(count, 0u) << entry.name;
    for (uint32_t nth = 1; nth <= count; ++nth) {
      fault::arm(fault::Point::kSemaphoreWait, nth);
      EXPECT_EQ(entry.call(kRmid, ++value), value) << entry.name << " wait " << nth;
      fault::disarmAll();
    }
  }
  EXPECT_EQ(closeRm(kRmid), XA_OK);
}

struct PendingCall {
  const EchoCall* entry;
  int value;
  int result;
};

uint32_t runPendingCall(void* raw) {
  auto* pending = static_cast<PendingCall*>(raw);
  pending->result = pending->entry->call(kRmid, pending->value);
  return 0;
}

TEST(Faults_xa80, CallsHoldWhileEveryWaitFailsAndAnswerOnceItWorks) {
  // With every wait failing the answer cannot be collected, and the call's
  // arguments must stay valid until the worker has used them: the call holds
  // until the waits work again, then answers its own request.
  echoEverything();
  ASSERT_EQ(openRm(kRmid), XA_OK);
  int value = 500;
  for (const EchoCall& entry : kEchoCalls) {
    PendingCall pending{&entry, ++value, 0};
    fault::arm(fault::Point::kSemaphoreWait, 1, true);
    uint32_t id = 0;
    platform::Thread* thread = platform::threadStart(runPendingCall, &pending, &id);
    ASSERT_NE(thread, nullptr);
    // Bounded: a thousand failed waits show the call retrying, not returning.
    while (fault::calls(fault::Point::kSemaphoreWait) < 1000) test::yieldThread();
    fault::disarmAll();
    ASSERT_TRUE(platform::threadJoin(thread));
    EXPECT_EQ(pending.result, pending.value) << entry.name;
  }
  EXPECT_EQ(closeRm(kRmid), XA_OK);
}

TEST(Faults_xa80, FailedJoinOfACloseStillEndsTheRmid) {
  // A join that fails cannot show that the worker has left the module's
  // code: the close still answers and ends the rmid, and the module stays
  // referenced for good (not visible here). The worker answered its exit, so
  // the record is freed (the leak check shows it). Transient and persistent.
  loadClient();
  const int threadsBefore = test::processThreadCount();
  for (bool persistent : {false, true}) {
    ASSERT_EQ(openRm(kRmid), XA_OK);
    fault::arm(fault::Point::kThreadJoin, 1, persistent);
    EXPECT_EQ(closeRm(kRmid), XA_OK) << "persistent " << persistent;
    fault::disarmAll();
    EXPECT_FALSE(hasWorker(kRmid)) << "persistent " << persistent;
    EXPECT_EQ(openRm(kRmid), XA_OK) << "persistent " << persistent;
    EXPECT_EQ(closeRm(kRmid), XA_OK) << "persistent " << persistent;
  }
  // The threads that were not joined were detached and end all the same.
  for (int spins = 0; spins < 100000 && test::processThreadCount() != threadsBefore; ++spins) {
    test::yieldThread();
  }
  EXPECT_EQ(test::processThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace zp
