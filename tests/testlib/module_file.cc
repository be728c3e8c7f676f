#include "testlib/module_file.h"

namespace zp {
namespace test {

const char* moduleFile() { return ZP_MODULE_FILE; }

}  // namespace test
}  // namespace zp
