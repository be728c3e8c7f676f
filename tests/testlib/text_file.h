// Reading the files tests check: logs, stamps, journals.
#ifndef ZP_TESTS_TESTLIB_TEXT_FILE_H
#define ZP_TESTS_TESTLIB_TEXT_FILE_H

#include <string>
#include <vector>

namespace zp {
namespace test {

// The file's lines without their line ends ("\n" or "\r\n"); none when the
// file cannot be read.
std::vector<std::string> readLines(const std::string& path);

// The file's bytes as they are; empty when it cannot be read.
std::string readAll(const std::string& path);

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TESTLIB_TEXT_FILE_H
