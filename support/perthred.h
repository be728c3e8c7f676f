// Per-thread records (KvThreadInfo) in a process-wide list, and the two error
// entry points every component calls: reportOutOfMemory and postError.
#ifndef ZP_SUPPORT_PERTHRED_H
#define ZP_SUPPORT_PERTHRED_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "support/kvobject.h"

namespace zp {

class KvCriticalSection;
class KvError;

// Guards growth of the thread-record list; the innermost lock of the module.
// Built by the module with its other static objects, in their order
// (module/libmain.cc); requires the module to be loaded.
KvCriticalSection& threadRecordLock();

// One record per operating-system thread. Slot 0 holds the thread's error list
// when one is installed; slots 1 to 5 are unused. The record owns nothing its
// slots point to. Records are appended at the tail of the list and unlinked
// only at process detach.
class KvThreadInfo : public KvObject {
 public:
  static constexpr int kSlotCount = 6;

  explicit KvThreadInfo(uint32_t ownerThreadId);
  ~KvThreadInfo() override;

  // Next record, null at the tail. Published with release order so that a
  // thread walking the list without the lock sees only whole records.
  std::atomic<KvThreadInfo*> next{nullptr};
  // Relaxed atomics: read by unlocked walks, changed only under the lock.
  std::atomic<uint32_t> threadId;
  void* slots[kSlotCount] = {};
  std::atomic<uint32_t> free{0};  // nonzero: may be reused for another thread
};

// The module's environment record: zero at load, cleared at process attach.
struct KvEnvironment {
  std::atomic<KvThreadInfo*> threadListHead;
};
extern KvEnvironment g_environment;

// Process attach: clears the environment record and makes a record for
// threadId the list's head. Returns false when that record cannot be made.
bool threadListAttach(uint32_t threadId);
// Process detach: destroys every record in list order, then empties the head.
// Takes no lock; no other thread may use the list meanwhile.
void threadListDetach();

// The record of threadId, created on first use; null when the list is empty
// (before attach, after detach) or a new record cannot be allocated. Takes the
// thread-record lock only to create or reuse.
KvThreadInfo* findThreadInfo(uint32_t threadId);
// Slot index (0 to 5) of the calling thread's record; null without a record.
void* threadSlot(int index);

// Called right after an allocation failed: marks the calling thread's error
// list, when one is installed. Returns normally in every case.
void reportOutOfMemory();
// Has the calling thread's error list build and admit a record for messageId.
// Returns the admitted record or the list's substitute; null when the thread
// has no error list, which in this module is always the case.
KvError* postError(uint16_t messageId);
// Zero-filled storage of size bytes (one byte when size is 0); on failure
// calls reportOutOfMemory and returns null.
void* allocateZeroed(size_t size);

}  // namespace zp

#endif  // ZP_SUPPORT_PERTHRED_H
