// Thread records and the error entry points.
#include "support/perthred.h"

#include <cstring>

#include "platform/alloc.h"
#include "platform/platform.h"
#include "support/kvcritse.h"
#include "support/kvlist.h"

namespace zp {

KvEnvironment g_environment;

KvThreadInfo::KvThreadInfo(uint32_t ownerThreadId) : threadId(ownerThreadId) {}

KvThreadInfo::~KvThreadInfo() = default;

bool threadListAttach(uint32_t threadId) {
  g_environment.threadListHead.store(nullptr);
  KvThreadInfo* first = new KvThreadInfo(threadId);
  if (first == nullptr) return false;
  g_environment.threadListHead.store(first, std::memory_order_release);
  return true;
}

void threadListDetach() {
  KvThreadInfo* record = g_environment.threadListHead.load(std::memory_order_acquire);
  while (record != nullptr) {
    KvThreadInfo* successor = record->next.load(std::memory_order_acquire);
    delete record;
    record = successor;
  }
  g_environment.threadListHead.store(nullptr);
}

namespace {

KvThreadInfo* findLive(uint32_t threadId) {
  for (KvThreadInfo* record = g_environment.threadListHead.load(std::memory_order_acquire);
       record != nullptr; record = record->next.load(std::memory_order_acquire)) {
    if (record->free.load(std::memory_order_relaxed) == 0 &&
        record->threadId.load(std::memory_order_relaxed) == threadId) {
      return record;
    }
  }
  return nullptr;
}

}  // namespace

KvThreadInfo* findThreadInfo(uint32_t threadId) {
  KvThreadInfo* found = findLive(threadId);
  if (found != nullptr) return found;
  KvThreadInfo* head = g_environment.threadListHead.load(std::memory_order_acquire);
  if (head == nullptr) return nullptr;

  KvLockGuard guard(threadRecordLock());
  KvThreadInfo* tail = head;
  for (KvThreadInfo* record = head; record != nullptr;
       record = record->next.load(std::memory_order_acquire)) {
    if (record->free.load(std::memory_order_relaxed) != 0) {
      std::memset(record->slots, 0, sizeof record->slots);
      record->threadId.store(threadId, std::memory_order_relaxed);
      record->free.store(0, std::memory_order_relaxed);
      return record;
    }
    tail = record;
  }
  // Built completely before it is linked, so an unlocked walk never meets a
  // half-built record.
  KvThreadInfo* created = new KvThreadInfo(threadId);
  if (created == nullptr) return nullptr;
  tail->next.store(created, std::memory_order_release);
  return created;
}

void* threadSlot(int index) {
  KvThreadInfo* record = findThreadInfo(platform::currentThreadId());
  if (record == nullptr || index < 0 || index >= KvThreadInfo::kSlotCount) return nullptr;
  return record->slots[index];
}

void reportOutOfMemory() {
  KvErrorList* list = currentErrorList();
  if (list == nullptr) return;  // no error list installed: nothing to mark
  list->markOutOfMemory();
}

KvError* postError(uint16_t messageId) {
  KvErrorList* list = currentErrorList();
  if (list == nullptr) return nullptr;
  return list->post(messageId);
}

void* allocateZeroed(size_t size) {
  const size_t bytes = size == 0 ? 1 : size;
  void* block = allocate(bytes);
  if (block == nullptr) {
    reportOutOfMemory();
    return nullptr;
  }
  std::memset(block, 0, bytes);
  return block;
}

}  // namespace zp
