#include "support/kvobject.h"

#include "platform/alloc.h"

namespace zp {

KvObject::~KvObject() = default;

int16_t KvObject::compare(const KvObject&) const { return 0; }

void* KvObject::operator new(size_t size) noexcept { return allocate(size); }

void KvObject::operator delete(void* block) noexcept { release(block); }

}  // namespace zp
