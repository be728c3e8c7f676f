// The allocation function over the C runtime heap, with the test fault hook.
#include "support/alloc.h"

#include <cstdlib>

#include "support/fault.h"

namespace zp {

void* allocate(size_t size) {
  if (fault::shouldFail(fault::Point::kAllocation)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* reallocate(void* block, size_t size) {
  if (fault::shouldFail(fault::Point::kAllocation)) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

void release(void* block) { std::free(block); }

}  // namespace zp
