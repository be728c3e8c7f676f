// Where tests find the real module: its full path on Linux, its file name on
// Windows (the DLL sits beside the test programs, so the ordinary search finds it).
#ifndef ZP_TESTS_TESTLIB_MODULE_FILE_H
#define ZP_TESTS_TESTLIB_MODULE_FILE_H

namespace zp {
namespace test {

const char* moduleFile();

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_MODULE_FILE_H
