// The pointer array: linear growth, ordered insert and remove, and a growth
// that fails through the allocation hook.
#include <gtest/gtest.h>

#include <vector>

#include "platform/fault.h"
#include "support/kvarray.h"

namespace zp {
namespace {

void* item(uintptr_t n) { return reinterpret_cast<void*>(n); }

std::vector<uintptr_t> contents(const KvArray& array) {
  std::vector<uintptr_t> out;
  for (uint32_t i = 0; i < array.count(); ++i)
    out.push_back(reinterpret_cast<uintptr_t>(array.at(i)));
  return out;
}

TEST(KvArray, GrowsInStepsOfSixteen) {
  KvArrayPVoid array;
  EXPECT_EQ(array.capacity(), 0u);
  EXPECT_EQ(array.items(), nullptr);
  for (uintptr_t n = 1; n <= 33; ++n) {
    ASSERT_EQ(array.insertAt(item(n), array.count()), 0);
    const uint32_t expected = n <= 16 ? 16 : n <= 32 ? 32 : 48;
    EXPECT_EQ(array.capacity(), expected) << "after " << n << " items";
  }
  for (uintptr_t n = 1; n <= 33; ++n) EXPECT_EQ(array.at(static_cast<uint32_t>(n - 1)), item(n));
  // Slots past count hold null after a growth.
  EXPECT_EQ(array.items()[33], nullptr);
}

TEST(KvArray, InsertAndRemoveKeepOrder) {
  KvArrayPVoid array;
  array.insertAt(item(1), 0);
  array.insertAt(item(3), 1);
  array.insertAt(item(2), 1);
  array.insertAt(item(0), 0);
  EXPECT_EQ(contents(array), (std::vector<uintptr_t>{0, 1, 2, 3}));
  array.removeAt(2);
  EXPECT_EQ(contents(array), (std::vector<uintptr_t>{0, 1, 3}));
  array.removeAt(0);
  EXPECT_EQ(contents(array), (std::vector<uintptr_t>{1, 3}));
  array.removeAt(1);
  array.removeAt(0);
  EXPECT_EQ(array.count(), 0u);
  EXPECT_EQ(array.capacity(), 16u);
  // Re-filling within the capacity allocates nothing.
  fault::arm(fault::Point::kAllocation, 1, true);
  EXPECT_EQ(array.insertAt(item(7), 0), 0);
  fault::disarmAll();
  EXPECT_EQ(contents(array), (std::vector<uintptr_t>{7}));
}

TEST(KvArray, FailedGrowthLeavesArrayUnchanged) {
  KvArrayPVoid array;
  fault::arm(fault::Point::kAllocation, 1);
  EXPECT_EQ(array.insertAt(item(1), 0), 1);
  fault::disarmAll();
  EXPECT_EQ(array.count(), 0u);
  EXPECT_EQ(array.capacity(), 0u);

  for (uintptr_t n = 0; n < 16; ++n) array.insertAt(item(n), array.count());
  void** before = array.items();
  fault::arm(fault::Point::kAllocation, 1);
  EXPECT_EQ(array.insertAt(item(99), 0), 1);
  fault::disarmAll();
  EXPECT_EQ(array.items(), before);
  EXPECT_EQ(array.capacity(), 16u);
  EXPECT_EQ(array.count(), 16u);
  EXPECT_EQ(array.at(0), item(0));
}

}  // namespace
}  // namespace zp
