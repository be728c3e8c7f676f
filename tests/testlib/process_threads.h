// The number of threads the test process has now, to show that a path left
// none behind.
#ifndef ZP_TESTS_TESTLIB_PROCESS_THREADS_H
#define ZP_TESTS_TESTLIB_PROCESS_THREADS_H

namespace zp {
namespace test {

// Threads of this process, as the operating system counts them; -1 when it
// cannot tell.
int processThreadCount();

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_PROCESS_THREADS_H
