// Every failure point of the module's unload and load (the steps the load
// hook runs), swept one at a time in a process of its own: a failed first
// thread record refuses the load and undoes it; a failed environment query,
// clock, file open or file write only leaves the KV_ASSERTS_FILE stamp out.
// Either way nothing stays allocated and the next load works.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "module/libmain.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/perthred.h"
#include "testlib/fault_sweep.h"
#include "testlib/text_file.h"

namespace zp {
namespace {

using test::FaultRun;

constexpr char kStampFile[] = "module_faults_stamp.txt";

size_t stampLines() { return test::readLines(kStampFile).size(); }

// What the load hook does: unload, load, and undo a refused load.
bool reload() {
  moduleUnload();
  if (moduleLoad(nullptr)) return true;
  moduleUnload();
  return false;
}

bool attachingThreadHasItsRecord() {
  return findThreadInfo(platform::currentThreadId()) != nullptr;
}

TEST(ModuleFaults, UnloadAndLoad) {
  std::remove(kStampFile);
  ASSERT_TRUE(platform::environmentSet("KV_ASSERTS_FILE", kStampFile));
  size_t linesBefore = 0;
  test::FaultSweepEntry entry;
  entry.name = "module unload and load";
  entry.prepare = [&linesBefore] { linesBefore = stampLines(); };
  entry.run = []() -> long long { return reload() ? 1 : 0; };
  entry.check = [&linesBefore](const FaultRun& run, long long result) {
    const size_t added = stampLines() - linesBefore;
    if (run.clean()) {
      EXPECT_EQ(result, 1) << run.row;
      EXPECT_EQ(added, 1u) << run.row << ": one stamp line";
      EXPECT_TRUE(attachingThreadHasItsRecord()) << run.row;
      return;
    }
    if (run.point == fault::Point::kAllocation) {
      // The attaching thread's record is the attach's one allocation.
      EXPECT_EQ(result, 0) << run.row << ": the load is refused";
      EXPECT_FALSE(attachingThreadHasItsRecord()) << run.row;
    } else {
      EXPECT_EQ(result, 1) << run.row << ": the load goes on";
      EXPECT_TRUE(attachingThreadHasItsRecord()) << run.row;
    }
    if (run.point == fault::Point::kEnvironmentGet) {
      // Two variables are read: KV_ASSERTS_FILE, and ZPXA_LOG for the
      // diagnostic log, which just stays off when its read fails.
      EXPECT_LE(added, 1u) << run.row;
    } else {
      EXPECT_EQ(added, 0u) << run.row << ": no stamp line";
    }
  };
  entry.worksAgain = [](const std::string& row) {
    const size_t before = stampLines();
    EXPECT_TRUE(reload()) << row << ": next load";
    EXPECT_EQ(stampLines(), before + 1) << row << ": next load's stamp line";
    EXPECT_TRUE(attachingThreadHasItsRecord()) << row;
  };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  for (fault::Point point :
       {fault::Point::kAllocation, fault::Point::kEnvironmentGet, fault::Point::kTimeQuery,
        fault::Point::kFileOpen, fault::Point::kFileWrite}) {
    const int kind = static_cast<int>(point);
    const uint32_t expected = point == fault::Point::kEnvironmentGet ? 2u : 1u;
    EXPECT_EQ(counts.reached[kind], expected) << fault::pointName(point);
    EXPECT_EQ(counts.driven[kind], expected) << fault::pointName(point);
  }
  std::remove(kStampFile);
}

TEST(ModuleFaults, EnvironmentSetRefused) {
  // The module itself never sets a variable; the platform call reports the
  // refusal and leaves the variable as it was.
  ASSERT_TRUE(platform::environmentSet("ZP_FAULT_PROBE", "before"));
  test::FaultSweepEntry entry;
  entry.name = "environmentSet";
  entry.run = []() -> long long { return platform::environmentSet("ZP_FAULT_PROBE", "after"); };
  entry.check = [](const FaultRun& run, long long result) {
    char value[16];
    platform::environmentGet("ZP_FAULT_PROBE", value, sizeof value);
    EXPECT_EQ(result, run.clean() ? 1 : 0) << run.row;
    EXPECT_STREQ(value, run.clean() ? "after" : "before") << run.row;
    platform::environmentSet("ZP_FAULT_PROBE", "before");
  };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.driven[static_cast<int>(fault::Point::kEnvironmentSet)], 1u);
}

}  // namespace
}  // namespace zp
