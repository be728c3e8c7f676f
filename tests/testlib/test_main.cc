// main of every test program: loads the module's static objects and runs the
// process attach, as the system loader does for the real module, then runs
// the tests. Test programs that exercise the real shared library load it by
// file name instead (module_file.h).
#include <gtest/gtest.h>

#include "module/libmain.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!zp::moduleLoad(nullptr)) return 3;
  return RUN_ALL_TESTS();
}
