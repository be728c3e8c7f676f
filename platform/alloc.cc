// The allocation function over the C runtime heap, with the test fault hook.
#include "platform/alloc.h"

#include <atomic>
#include <cstdlib>

#include "platform/fault.h"

namespace zp {

namespace {

// Zero at load, like every process-wide record of the module.
std::atomic<long> g_outstanding;

}  // namespace

void* allocate(size_t size) {
  if (fault::shouldFail(fault::Point::kAllocation)) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) g_outstanding.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* reallocate(void* block, size_t size) {
  if (fault::shouldFail(fault::Point::kAllocation)) return nullptr;
  void* resized = std::realloc(block, size == 0 ? 1 : size);
  if (resized != nullptr && block == nullptr) g_outstanding.fetch_add(1, std::memory_order_relaxed);
  return resized;
}

void release(void* block) {
  if (block == nullptr) return;
  g_outstanding.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

long allocationsOutstanding() { return g_outstanding.load(std::memory_order_relaxed); }

}  // namespace zp
