#include "support/kvarray.h"

#include "platform/alloc.h"
#include "support/perthred.h"

namespace zp {

KvArray::~KvArray() {
  if (flags_ & kOwnsBuffer) release(items_);
}

KvArrayPVoid::~KvArrayPVoid() = default;

bool KvArray::grow() {
  const uint32_t newCapacity = capacity_ + growth_;
  void** buffer = static_cast<void**>(allocate(sizeof(void*) * newCapacity));
  if (buffer == nullptr) {
    reportOutOfMemory();
    return false;
  }
  for (uint32_t i = 0; i < capacity_; ++i) buffer[i] = items_[i];
  for (uint32_t i = capacity_; i < newCapacity; ++i) buffer[i] = nullptr;
  if (flags_ & kOwnsBuffer) {
    release(items_);
  } else {
    flags_ |= kOwnsBuffer;
  }
  items_ = buffer;
  capacity_ = newCapacity;
  return true;
}

int32_t KvArray::insertAt(void* item, uint32_t index) {
  if (count_ == capacity_ && !grow()) return kSupportFailed;
  for (uint32_t i = count_; i > index; --i) items_[i] = items_[i - 1];
  items_[index] = item;
  ++count_;
  return kSupportOk;
}

void KvArray::removeAt(uint32_t index) {
  for (uint32_t i = index + 1; i < count_; ++i) items_[i - 1] = items_[i];
  --count_;
}

}  // namespace zp
