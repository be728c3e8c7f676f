// Sweeps every failure point an operation reaches, one at a time: counts the
// points of each kind in a clean run, then makes each of them fail once
// (transient) and from that call on (persistent), and checks the operation's
// result, that the next call works once the fault is gone, and that no block
// of the module's allocation function was left behind. Each run is bounded by
// a watchdog that ends the process, naming the run, when it hangs.
#ifndef ZP_TESTS_TESTLIB_FAULT_SWEEP_H
#define ZP_TESTS_TESTLIB_FAULT_SWEEP_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fault.h"

namespace zp {
namespace test {

constexpr int kFaultKinds = static_cast<int>(fault::Point::kCount);

// One run of an operation: clean (nth 0), or with the nth of count calls of
// point failing, alone or with every later one.
struct FaultRun {
  fault::Point point;
  uint32_t nth;
  uint32_t count;
  bool persistent;
  std::string row;  // names the run in every assertion message

  bool clean() const { return nth == 0; }
};

struct FaultSweepEntry {
  std::string name;
  // Brings the process to the state every run starts from; runs disarmed
  // before each run. Optional.
  std::function<void()> prepare;
  // Runs the operation once and returns its result.
  std::function<long long()> run;
  // Checks the result of a run (clean or faulted) with gtest assertions whose
  // messages carry run.row.
  std::function<void(const FaultRun& run, long long result)> check;
  // Runs disarmed after each run: the operation (or the next one in the
  // caller's sequence) works again. Optional.
  std::function<void(const std::string& row)> worksAgain;
  // Kinds not swept (the entry sweeps them elsewhere).
  std::vector<fault::Point> skip;
  // Kinds that other threads call too (a worker's semaphore waits), so that a
  // run may end before the armed call was made: not reaching it is then no
  // failure, and the point counts as driven only when it was reached.
  std::vector<fault::Point> mayVary;
  // Limit for one run with its prepare and worksAgain.
  unsigned secondsPerRun = 30;
};

struct FaultSweepCounts {
  uint32_t reached[kFaultKinds] = {};  // failure points of each kind in a clean run
  uint32_t driven[kFaultKinds] = {};   // of those, failed transient and persistent
};

// Sweeps entry and prints one line "fault sweep <name>: <kind> <driven>/<reached>, ..."
// for the kinds it reaches. The first clean run is a warm-up that brings
// lazily made state (a loaded library, a thread's record) into being; the
// blocks outstanding after each later run and its worksAgain must be those of
// a clean run.
FaultSweepCounts sweepFaults(const FaultSweepEntry& entry);

// "kind driven/reached, ..." for the kinds reached; "no failure point" without one.
std::string describeCounts(const FaultSweepCounts& counts);

// Expects every failure point reached to have been driven, naming the kind.
void expectSweepComplete(const FaultSweepCounts& counts, const std::string& name);

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_FAULT_SWEEP_H
