// libFuzzer's start-up hook for the harnesses whose parsers need the module
// loaded (the code page, the trace options): loads it once, or stops.
#include <cstdlib>

#include "module/libmain.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!zp::moduleLoad(nullptr)) std::abort();
  return 0;
}
