// KvArray: the support library's growable array of pointers. It keeps its
// elements in order, grows by a fixed step, never shrinks, and never frees the
// objects its elements point to. It takes no lock; its owner serialises access.
#ifndef ZP_SUPPORT_KVARRAY_H
#define ZP_SUPPORT_KVARRAY_H

#include <cstdint>

#include "support/kvobject.h"
#include "support/result.h"

namespace zp {

class KvArray : public KvObject {
 public:
  static constexpr uint32_t kDefaultGrowth = 16;

  // Empty: no buffer, capacity 0, count 0, growth step 16.
  KvArray() = default;
  // Releases the buffer when the array owns it; the elements are left alone.
  ~KvArray() override;

  // REQUIRES: index <= count(). Stores item at index, moving the elements from
  // index up by one. Returns kSupportOk, or kSupportFailed when the array was full and could not
  // grow (reportOutOfMemory has been called; the array is unchanged).
  int32_t insertAt(void* item, uint32_t index);
  // REQUIRES: index < count(). Moves the later elements down by one. The
  // removed pointer is neither freed nor returned; capacity stays.
  void removeAt(uint32_t index);

  uint32_t count() const { return count_; }
  uint32_t capacity() const { return capacity_; }
  uint32_t growthStep() const { return growth_; }
  void* at(uint32_t index) const { return items_[index]; }
  void** items() const { return items_; }

 private:
  enum : uint32_t { kOwnsBuffer = 1u << 0 };

  // Adds growth_ slots. Returns false (array unchanged) when memory runs out.
  bool grow();

  void** items_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  uint32_t growth_ = kDefaultGrowth;
  uint32_t flags_ = 0;
};

// The array of untyped pointers; adds nothing to KvArray.
class KvArrayPVoid : public KvArray {
 public:
  // Out of line, so the class's virtual table lives with the module's objects.
  ~KvArrayPVoid() override;
};

}  // namespace zp

#endif  // ZP_SUPPORT_KVARRAY_H
