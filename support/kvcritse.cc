#include "support/kvcritse.h"

namespace zp {

KvCriticalSection::KvCriticalSection() {
  flags_ &= ~kSkipLocking;
  flags_ |= kInitialised;
  platform::lockInit(&lock_);
}

KvCriticalSection::~KvCriticalSection() {
  if (flags_ & kInitialised) {
    platform::lockDestroy(&lock_);
    flags_ &= ~kInitialised;
  }
}

void KvCriticalSection::enter() {
  if (!(flags_ & kSkipLocking)) platform::lockEnter(&lock_);
}

void KvCriticalSection::leave() {
  if (!(flags_ & kSkipLocking)) platform::lockLeave(&lock_);
}

}  // namespace zp
