// The sweep itself catches what it is for: a failure path that forgets a
// block, a failure point that a later run no longer reaches, and a run that
// hangs.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/alloc.h"
#include "testlib/fault_sweep.h"

namespace zp {
namespace {

using test::FaultRun;
using test::FaultSweepEntry;

// The messages of the assertions that failed in body, which fail nothing.
std::vector<std::string> failuresOf(const std::function<void()>& body) {
  testing::TestPartResultArray results;
  {
    testing::ScopedFakeTestPartResultReporter reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    body();
  }
  std::vector<std::string> messages;
  for (int i = 0; i < results.size(); ++i)
    messages.push_back(results.GetTestPartResult(i).message());
  return messages;
}

bool allContain(const std::vector<std::string>& messages, const std::string& text) {
  for (const std::string& message : messages) {
    if (message.find(text) == std::string::npos) return false;
  }
  return !messages.empty();
}

// Blocks the faulty operation below forgets, kept so that the sanitizer's
// leak check at exit does not count them.
std::vector<void*> g_forgotten;

// Two blocks; when the second cannot be had the first is forgotten.
long long leakOnFailure() {
  void* first = allocate(8);
  if (first == nullptr) return 1;
  void* second = allocate(8);
  if (second == nullptr) {
    g_forgotten.push_back(first);
    return 1;
  }
  release(second);
  release(first);
  return 0;
}

FaultSweepEntry leakyEntry() {
  FaultSweepEntry entry;
  entry.name = "leaky";
  entry.run = leakOnFailure;
  entry.check = [](const FaultRun& run, long long result) {
    EXPECT_EQ(result, run.clean() ? 0 : 1) << run.row;
  };
  return entry;
}

TEST(FaultSweep, FindsAForgottenBlock) {
  const std::vector<std::string> failures = failuresOf([] { test::sweepFaults(leakyEntry()); });
  EXPECT_EQ(failures.size(), 2u) << "the second allocation, once and persistent";
  EXPECT_TRUE(allContain(failures, "allocation 2 of 2")) << failures.front();
  EXPECT_TRUE(allContain(failures, "blocks left outstanding")) << failures.front();
  for (void* block : g_forgotten) release(block);
}

TEST(FaultSweep, FindsAPointNoLongerReached) {
  // The warm-up and the clean run allocate once; the faulted runs do not.
  int runs = 0;
  FaultSweepEntry entry;
  entry.name = "vanishing";
  entry.run = [&runs]() -> long long {
    if (++runs <= 2) release(allocate(4));
    return 0;
  };
  entry.check = [](const FaultRun&, long long) {};
  const std::vector<std::string> failures = failuresOf([&entry] { test::sweepFaults(entry); });
  EXPECT_EQ(failures.size(), 2u) << "once and persistent";
  EXPECT_TRUE(allContain(failures, "was not reached again"));
}

#if GTEST_HAS_DEATH_TEST
TEST(FaultSweep, EndsARunThatHangs) {
  FaultSweepEntry entry;
  entry.name = "hanging";
  entry.secondsPerRun = 1;
  entry.run = []() -> long long {
    static std::atomic<bool> forever{true};
    while (forever.load()) {
    }
    return 0;
  };
  entry.check = [](const FaultRun&, long long) {};
  EXPECT_EXIT(test::sweepFaults(entry), testing::ExitedWithCode(3),
              "hanging: first clean run did not finish in time");
}
#endif

}  // namespace
}  // namespace zp
