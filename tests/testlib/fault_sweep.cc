// The failure-point sweep (fault_sweep.h) and its watchdog. The watchdog uses
// the system directly, not the module's platform layer, so that it neither
// counts as a failure point nor can be made to fail by one.
#include "testlib/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "platform/alloc.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace zp {
namespace test {
namespace {

// The run in progress, written before the watchdog is set and read only by
// its expiry, which ends the process.
char g_watchedRow[512];

#ifdef _WIN32

HANDLE g_timer;

VOID CALLBACK watchdogExpired(PVOID, BOOLEAN) {
  std::fprintf(stderr, "fault sweep: %s did not finish in time\n", g_watchedRow);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
}

void watchdogSet(unsigned seconds) {
  if (!CreateTimerQueueTimer(&g_timer, nullptr, watchdogExpired, nullptr, seconds * 1000u, 0,
                             WT_EXECUTEONLYONCE)) {
    g_timer = nullptr;
  }
}

void watchdogClear() {
  // Waits for a callback that has started already, which ends the process.
  if (g_timer != nullptr) DeleteTimerQueueTimer(nullptr, g_timer, INVALID_HANDLE_VALUE);
  g_timer = nullptr;
}

#else

void watchdogExpired(int) {
  static const char kPrefix[] = "fault sweep: ";
  static const char kSuffix[] = " did not finish in time\n";
  // Only async-signal-safe calls here.
  ssize_t ignored = write(2, kPrefix, sizeof kPrefix - 1);
  ignored = write(2, g_watchedRow, std::strlen(g_watchedRow));
  ignored = write(2, kSuffix, sizeof kSuffix - 1);
  (void)ignored;
  _exit(3);
}

void watchdogSet(unsigned seconds) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = watchdogExpired;
  sigaction(SIGALRM, &action, nullptr);
  alarm(seconds);
}

void watchdogClear() { alarm(0); }

#endif

// Sets the watchdog for one run and clears it when the run is over.
class Watchdog {
 public:
  Watchdog(const std::string& row, unsigned seconds) {
    std::snprintf(g_watchedRow, sizeof g_watchedRow, "%s", row.c_str());
    watchdogSet(seconds);
  }
  ~Watchdog() { watchdogClear(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

bool listed(const std::vector<fault::Point>& points, fault::Point point) {
  for (fault::Point listedPoint : points) {
    if (listedPoint == point) return true;
  }
  return false;
}

void resetAllCalls() {
  for (int kind = 0; kind < kFaultKinds; ++kind) fault::resetCalls(static_cast<fault::Point>(kind));
}

// One run with its prepare, check and worksAgain. Returns the blocks left
// outstanding by the run and its worksAgain; stores the calls of each kind
// the run made in calls (when given) and whether the armed point was reached.
long runOnce(const FaultSweepEntry& entry, const FaultRun& run, uint32_t* calls, bool* reached) {
  Watchdog watchdog(run.row, entry.secondsPerRun);
  fault::disarmAll();
  if (entry.prepare) entry.prepare();
  const long before = allocationsOutstanding();
  resetAllCalls();
  if (!run.clean()) fault::arm(run.point, run.nth, run.persistent);
  const long long result = entry.run();
  if (calls != nullptr) {
    for (int kind = 0; kind < kFaultKinds; ++kind) {
      calls[kind] = fault::calls(static_cast<fault::Point>(kind));
    }
  }
  if (reached != nullptr) *reached = run.clean() || fault::calls(run.point) >= run.nth;
  fault::disarmAll();
  entry.check(run, result);
  if (entry.worksAgain) entry.worksAgain(run.row);
  return allocationsOutstanding() - before;
}

}  // namespace

std::string describeCounts(const FaultSweepCounts& counts) {
  std::string text;
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    if (counts.reached[kind] == 0) continue;
    if (!text.empty()) text += ", ";
    text += fault::pointName(static_cast<fault::Point>(kind));
    text += " " + std::to_string(counts.driven[kind]) + "/" + std::to_string(counts.reached[kind]);
  }
  return text.empty() ? "no failure point" : text;
}

FaultSweepCounts sweepFaults(const FaultSweepEntry& entry) {
  FaultSweepCounts counts;
  const FaultRun warmUp{fault::Point::kCount, 0, 0, false, entry.name + ": first clean run"};
  runOnce(entry, warmUp, nullptr, nullptr);
  const FaultRun clean{fault::Point::kCount, 0, 0, false, entry.name + ": clean run"};
  uint32_t calls[kFaultKinds] = {};
  const long cleanOutstanding = runOnce(entry, clean, calls, nullptr);

  for (int kind = 0; kind < kFaultKinds; ++kind) {
    const auto point = static_cast<fault::Point>(kind);
    if (listed(entry.skip, point)) continue;
    counts.reached[kind] = calls[kind];
    for (uint32_t nth = 1; nth <= calls[kind]; ++nth) {
      bool drivenBoth = true;
      for (bool persistent : {false, true}) {
        const FaultRun run{point, nth, calls[kind], persistent,
                           entry.name + ": " + fault::pointName(point) + " " + std::to_string(nth) +
                               " of " + std::to_string(calls[kind]) +
                               (persistent ? " (persistent)" : " (once)")};
        bool reached = false;
        const long outstanding = runOnce(entry, run, nullptr, &reached);
        if (!listed(entry.mayVary, point)) {
          EXPECT_TRUE(reached) << run.row << ": the failure point was not reached again";
        }
        EXPECT_EQ(outstanding, cleanOutstanding) << run.row << ": blocks left outstanding";
        drivenBoth = drivenBoth && reached;
      }
      if (drivenBoth) ++counts.driven[kind];
    }
  }
  std::printf("fault sweep %s: %s\n", entry.name.c_str(), describeCounts(counts).c_str());
  std::fflush(stdout);
  return counts;
}

void expectSweepComplete(const FaultSweepCounts& counts, const std::string& name) {
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    EXPECT_EQ(counts.driven[kind], counts.reached[kind])
        << name << ": " << fault::pointName(static_cast<fault::Point>(kind));
  }
}

}  // namespace test
}  // namespace zp
