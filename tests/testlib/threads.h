// Helpers for tests that need threads, over the platform layer (the Windows
// toolchain has no std::thread). Every wait is bounded by the test's timeout.
#ifndef ZP_TESTS_TESTLIB_THREADS_H
#define ZP_TESTS_TESTLIB_THREADS_H

#include <functional>
#include <vector>

namespace zp {
namespace test {

// Runs body(i) for i in 0..count-1, each on a thread of its own, all released
// at once, and returns when every one has finished.
void runConcurrently(int count, const std::function<void(int)>& body);

// Gives the processor to another ready thread, for spin waits among more
// threads than processors.
void yieldThread();

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_THREADS_H
