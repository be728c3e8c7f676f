// Thread records: one per thread, created on first use, even when threads
// race; none after detach; and the error entry points with no error list.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "module/libmain.h"
#include "platform/alloc.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "support/perthred.h"
#include "testlib/threads.h"

namespace zp {
namespace {

size_t listLength() {
  size_t length = 0;
  for (KvThreadInfo* r = g_environment.threadListHead.load(); r != nullptr; r = r->next.load())
    ++length;
  return length;
}

TEST(ThreadRecords, AttachingThreadHasOneAtOnce) {
  KvThreadInfo* mine = findThreadInfo(platform::currentThreadId());
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(g_environment.threadListHead.load(), mine);
  EXPECT_EQ(findThreadInfo(platform::currentThreadId()), mine);
  EXPECT_EQ(listLength(), 1u);
}

TEST(ThreadRecords, ConcurrentFirstUseGivesOneRecordEach) {
  constexpr int kThreads = 8;
  const size_t before = listLength();
  std::vector<KvThreadInfo*> found(kThreads);
  std::vector<uint32_t> ids(kThreads);
  test::runConcurrently(kThreads, [&](int i) {
    ids[i] = platform::currentThreadId();
    found[i] = findThreadInfo(ids[i]);
    // A second lookup finds the same record without creating another.
    if (findThreadInfo(ids[i]) != found[i]) found[i] = nullptr;
  });
  std::set<KvThreadInfo*> distinct(found.begin(), found.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
  EXPECT_EQ(distinct.count(nullptr), 0u);
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(found[i]->threadId.load(), ids[i]) << "thread " << i;
  EXPECT_EQ(listLength(), before + kThreads);
}

TEST(ThreadRecords, SlotOnNewThreadCreatesRecordAndIsEmpty) {
  const size_t before = listLength();
  void* slot = reinterpret_cast<void*>(1);
  test::runConcurrently(1, [&](int) { slot = threadSlot(0); });
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(listLength(), before + 1);
}

TEST(ThreadRecords, FailedCreationLeavesListUnchanged) {
  const size_t before = listLength();
  KvThreadInfo* found = reinterpret_cast<KvThreadInfo*>(1);
  test::runConcurrently(1, [&](int) {
    fault::arm(fault::Point::kAllocation, 1, true);
    found = findThreadInfo(platform::currentThreadId());
    fault::disarmAll();
  });
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(listLength(), before);
}

TEST(ThreadRecords, NothingFoundAfterDetach) {
  moduleProcessDetach();
  EXPECT_EQ(g_environment.threadListHead.load(), nullptr);
  EXPECT_EQ(findThreadInfo(platform::currentThreadId()), nullptr);
  EXPECT_EQ(threadSlot(0), nullptr);
  // The entry points still return normally with no record at all.
  reportOutOfMemory();
  EXPECT_EQ(postError(2716), nullptr);
  ASSERT_TRUE(moduleProcessAttach(nullptr));
  EXPECT_NE(findThreadInfo(platform::currentThreadId()), nullptr);
}

TEST(ErrorEntryPoints, ReturnNormallyWithoutErrorList) {
  reportOutOfMemory();
  EXPECT_EQ(postError(2737), nullptr);
  EXPECT_EQ(threadSlot(0), nullptr);
  EXPECT_EQ(threadSlot(KvThreadInfo::kSlotCount), nullptr);
}

TEST(AllocateZeroed, ZeroFillsAndFailsCleanly) {
  unsigned char* block = static_cast<unsigned char*>(allocateZeroed(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0) << "byte " << i;
  release(block);
  void* empty = allocateZeroed(0);
  EXPECT_NE(empty, nullptr);
  release(empty);
  fault::arm(fault::Point::kAllocation, 1);
  EXPECT_EQ(allocateZeroed(16), nullptr);
  fault::disarmAll();
}

TEST(ModuleAttach, FailsWhenFirstRecordCannotBeMade) {
  moduleProcessDetach();
  fault::arm(fault::Point::kAllocation, 1, true);
  EXPECT_FALSE(moduleProcessAttach(nullptr));
  fault::disarmAll();
  EXPECT_EQ(g_environment.threadListHead.load(), nullptr);
  EXPECT_TRUE(moduleProcessAttach(nullptr));
}

}  // namespace
}  // namespace zp
